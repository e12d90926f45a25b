// Build-time tool, built for and run on the build machine: packs the files a manifest lists
// into a payload archive.
//   payload_packer MANIFEST OUTPUT [BASE_FOLDER]
// Sources are read relative to BASE_FOLDER (default: the manifest's folder) and stored in
// the table as the manifest writes them, so the archive does not depend on where it is built.

#include "tools/payload_pack.hpp"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>

namespace {

template <class Char>
int pack(int argc, Char** argv)
{
    if (argc < 3 || argc > 4) {
        std::fputs("usage: payload_packer MANIFEST OUTPUT [BASE_FOLDER]\n", stderr);
        return 2;
    }
    try {
        const std::filesystem::path manifest{argv[1]};
        const std::filesystem::path base = argc == 4 ? std::filesystem::path{argv[3]} : manifest.parent_path();
        const auto items = setup::read_manifest(manifest, base);
        const std::string archive = setup::build_archive(items);
        const std::string compressed = setup::bzip2_compress(archive, setup::payload_block_level);
        std::ofstream out(std::filesystem::path(argv[2]), std::ios::binary | std::ios::trunc);
        out.write(compressed.data(), static_cast<std::streamsize>(compressed.size()));
        out.close();
        if (!out) {
            std::fputs("payload_packer: cannot write the output\n", stderr);
            return 1;
        }
        std::printf("payload: %u entries, %llu bytes, %llu compressed\n", static_cast<unsigned>(items.size()),
                    static_cast<unsigned long long>(archive.size()),
                    static_cast<unsigned long long>(compressed.size()));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "payload_packer: %s\n", e.what());
        return 1;
    }
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
{
    return pack(argc, argv);
}
#else
int main(int argc, char** argv)
{
    return pack(argc, argv);
}
#endif
