// Benchmark of the payload extraction: builds an archive of the product's shape (about 4 MB
// decompressed, 54 files, mostly already-compressed image data and a few executables) and
// reports the median times of
//   (a) one bzip2 decompression pass into a null sink,
//   (b) the test pass (test_payload),
//   (c) the extraction (extract_payload) into a temporary folder, with CRC read-back,
// the ratio (b + c) / a, and the peak working set.
//   bench_extract [RUNS [PAYLOAD]]   PAYLOAD: a packed archive to measure instead (the product's)

#include "engine/payload.hpp"
#include "pages/product.hpp"
#include "support/memstream.hpp"
#include "support/temp_names.hpp"
#include "tools/payload_pack.hpp"

#include <windows.h>
#include <psapi.h>

#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/device/null.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace io = boost::iostreams;

std::string random_bytes(std::size_t n, std::mt19937& rng)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; i += 4) {
        const std::uint32_t x = rng();
        for (std::size_t k = 0; k < 4 && i + k < n; ++k)
            s[i + k] = static_cast<char>(x >> (8 * k));
    }
    return s;
}

std::string own_image()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string text_bytes(std::size_t n, std::mt19937& rng)
{
    static const char* words[] = {"tile ", "row ", "texture ", "stone ", "12 ", "34 ", "brick ", "\r\n"};
    std::string s;
    while (s.size() < n)
        s += words[rng() % 8];
    s.resize(n);
    return s;
}

std::vector<setup::pack_item> product_shaped_items()
{
    std::mt19937 rng{20261210};
    std::vector<setup::pack_item> items;
    const std::wstring maker = L"<CommonData>\\" + std::wstring(setup::maker_name);
    const std::wstring textures = maker + L"\\Textures\\Tilewright";
    const std::wstring modules = maker + L"\\Modules\\Tilewright";
    for (int i = 0; i < 36; ++i)
        items.push_back({L"content\\textures\\texture" + std::to_wstring(i) + L".jpg", textures, 0,
                         random_bytes(65000 + rng() % 20000, rng)});
    for (int i = 0; i < 7; ++i)
        items.push_back({L"content\\modules\\module" + std::to_wstring(i) + L".lbm", modules, 3,
                         text_bytes(6000 + rng() % 4000, rng)});
    for (int i = 0; i < 6; ++i)
        items.push_back({L"content\\samples\\sample" + std::to_wstring(i) + L".cal", L"<SamplePath>", 4,
                         text_bytes(2000 + rng() % 3000, rng)});
    const std::string exe = own_image();
    items.push_back({L"bin\\Uninstall.exe", L"<InstallPath>", 2, exe.substr(0, 300000)});
    items.push_back({L"bin\\Tilewright.exe", L"<InstallPath>", 1, exe.substr(0, 600000)});
    for (const wchar_t* lang : {L"French", L"German", L"Spanish"})
        items.push_back({std::wstring(L"bin\\") + lang + L".dll", L"<InstallPath>\\Lang", 0, exe.substr(0, 40000)});
    return items;
}

double seconds_of(const std::function<void()>& run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double minimum(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 9;
    std::string compressed;
    if (argc > 2) {
        std::ifstream in(fs::path(argv[2]), std::ios::binary);
        compressed.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::printf("archive: %ls, %zu bytes compressed\n", argv[2], compressed.size());
    } else {
        const auto items = product_shaped_items();
        const std::string archive = setup::build_archive(items);
        compressed = setup::bzip2_compress(archive, setup::payload_block_level);
        std::printf("archive: %zu entries, %zu bytes decompressed, %zu compressed\n", items.size(), archive.size(),
                    compressed.size());
    }

    std::vector<double> decompress, test, extract;
    bool all_ok = true;
    for (int run = 0; run < runs; ++run) {
        decompress.push_back(seconds_of([&] {
            mw::imemstream in{compressed.data(), compressed.size()};
            io::filtering_ostream chain;
            chain.push(io::bzip2_decompressor());
            chain.push(io::null_sink());
            io::copy(in, chain, 4096);
        }));
        test.push_back(seconds_of([&] {
            mw::imemstream in{compressed.data(), compressed.size()};
            all_ok &= setup::test_payload(in);
        }));
        const fs::path target = mw::unique_temp_path(L"mwbench-%%%%%%%%");
        extract.push_back(seconds_of([&] {
            mw::imemstream in{compressed.data(), compressed.size()};
            all_ok &= setup::extract_payload(in, (target / L"Install").wstring(), (target / L"Samples").wstring(),
                                             (target / L"Temp").wstring(), [](const setup::notification&) {
                                                 return setup::notification::proceed;
                                             });
        }));
        // Every run installs afresh: its folders go, the shared data folders below the all
        // users' data folder with them.
        std::error_code ec;
        fs::remove_all(target, ec);
        fs::remove_all(fs::path(_wgetenv(L"ALLUSERSPROFILE")) / setup::maker_name, ec);
    }

    const double a = median(decompress), b = median(test), c = median(extract);
    PROCESS_MEMORY_COUNTERS memory{};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("runs: %d%s\n", runs, all_ok ? "" : " (SOME FAILED)");
    const double a0 = minimum(decompress), b0 = minimum(test), c0 = minimum(extract);
    std::printf("                                      median   fastest\n");
    std::printf("(a) decompression into a null sink: %8.1f  %8.1f ms\n", a * 1000, a0 * 1000);
    std::printf("(b) test_payload:                   %8.1f  %8.1f ms\n", b * 1000, b0 * 1000);
    std::printf("(c) extract_payload:                %8.1f  %8.1f ms\n", c * 1000, c0 * 1000);
    std::printf("ratio (b + c) / a:                  %8.2f  %8.2f\n", (b + c) / a, (b0 + c0) / a0);
    std::printf("peak working set:                   %8.1f MiB\n", memory.PeakWorkingSetSize / 1048576.0);
    return all_ok ? 0 : 1;
}
