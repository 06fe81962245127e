#include "host/base/translator.h"

#include <QCryptographicHash>

#include <map>

namespace ORVIK {

namespace {

// Namespace for the host's translation ids (a fixed random UUID).
constexpr UUID::Bytes kTextNamespace = {0x6b, 0x1f, 0x52, 0x0e, 0x9c, 0x3a, 0x4d, 0x71,
                                        0x8e, 0x02, 0x5f, 0xa4, 0x33, 0xd9, 0xc7, 0x18};

uint64_t fnv1a(const StringView &text, uint64_t seed)
{
    uint64_t h = seed;
    for (uint32_t i = 0; i < text.length(); ++i) {
        h ^= static_cast<unsigned char>(text[i]);
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::map<UUID, String> &translations()
{
    static std::map<UUID, String> table;
    return table;
}

} // namespace

UUID Translator::DefaultID(const StringView &text)
{
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    sha1.addData(QByteArrayView(reinterpret_cast<const char *>(kTextNamespace.data()), kTextNamespace.size()));
    sha1.addData(QByteArrayView(text.data(), text.length()));
    const QByteArray digest = sha1.result();
    UUID::Bytes bytes{};
    std::copy_n(reinterpret_cast<const uint8_t *>(digest.constData()), bytes.size(), bytes.begin());
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x50); // version 5
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
    return UUID(bytes);
}

UUID Translator::DefaultFastID(const StringView &key)
{
    const uint64_t high = fnv1a(key, 0xcbf29ce484222325ULL);
    const uint64_t low = fnv1a(key, 0x84222325cbf29ce4ULL);
    UUID::Bytes bytes{};
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<uint8_t>(high >> (56 - 8 * i));
        bytes[8 + i] = static_cast<uint8_t>(low >> (56 - 8 * i));
    }
    return UUID(bytes);
}

void Translator::SetTranslation(const UUID &id, const StringView &text)
{
    translations()[id] = String(text);
}

void Translator::ClearTranslations()
{
    translations().clear();
}

std::optional<String> Translator::Translation(const UUID &id)
{
    const auto found = translations().find(id);
    if (found == translations().end())
        return std::nullopt;
    return found->second;
}

} // namespace ORVIK
