#include "network/networkerrortext.h"

namespace ORVIK {

namespace {

struct ErrorText
{
    int code;
    const char *text;
};

// Proxy errors share texts with their direct counterparts, and 202 and 402 differ in one letter's case:
// the host's users have always seen these exact texts.
constexpr ErrorText kErrorTexts[] = {
    {0, "No Error"},
    {1, "Connection Refused"},
    {2, "Remote Host Closed"},
    {3, "Host Not Found"},
    {4, "Timeout"},
    {5, "Cancelled"},
    {6, "SSL Handshake"},
    {7, "Temporary Failure"},
    {8, "Session Failed"},
    {9, "Background Request"},
    {10, "Too Many Redirects"},
    {11, "Insecure Redirect"},
    {99, "Unknown Network"},
    {101, "Connection Refused"},
    {102, "Connection Closed"},
    {103, "Proxy Not Found"},
    {104, "Proxy Timeout"},
    {105, "Authentication Required"},
    {199, "Unkown Proxy Error"},
    {201, "Content Denied"},
    {202, "Operation Not permitted"},
    {203, "Content Not Found"},
    {204, "Authentication Required"},
    {205, "Content Resend"},
    {206, "Content Conflict"},
    {207, "Content Gone"},
    {299, "Unkown Content"},
    {301, "Protocol Unknown"},
    {302, "Protocol Invalid"},
    {399, "Protocol Failure"},
    {401, "Internal Server Error"},
    {402, "Operation Not Permitted"},
    {403, "Service Unavailable"},
    {499, "Unkown Server"},
};

} // namespace

StringView networkErrorText(int code) noexcept
{
    for (const ErrorText &entry : kErrorTexts)
        if (entry.code == code)
            return StringView(entry.text);
    return StringView();
}

} // namespace ORVIK
