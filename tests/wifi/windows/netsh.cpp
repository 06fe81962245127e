// A stand-in for Windows' netsh. Given ORVIK_NETSH_OUTPUT, it records its arguments, one a line,
// in the file that ORVIK_NETSH_ARGUMENTS names and prints the output file byte for byte; without
// it, it answers as a missing command does: nothing recorded, nothing printed.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>

int main(int argc, char **argv)
{
    const char *path = std::getenv("ORVIK_NETSH_OUTPUT");
    std::FILE *output = path ? std::fopen(path, "rb") : nullptr;
    if (!output)
        return 1;
    if (const char *arguments = std::getenv("ORVIK_NETSH_ARGUMENTS"))
        if (std::FILE *file = std::fopen(arguments, "wb")) {
            for (int i = 1; i < argc; ++i)
                std::fprintf(file, "%s\n", argv[i]);
            std::fclose(file);
        }
    _setmode(_fileno(stdout), _O_BINARY);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, output)) > 0;)
        std::fwrite(buffer, 1, n, stdout);
    std::fclose(output);
    return 0;
}
