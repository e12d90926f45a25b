// Benchmark of a quick installation as a user goes through it: the real setup.exe beside this
// program, driven from this process through the start, mode, install and end pages, several
// times in one go, each run from a clean machine (the installation is removed again by its
// own uninstall program). One warm-up run first, not counted. For each run it reports
//   (1) the time from the process's creation to its frame showing the start page,
//   (2) the time from pressing Install to the end of the run (Exit enabled again, with the
//       status line's hint to go on),
//   (3) the time from pressing Exit on the end page to the process's end,
//   (4) the process's peak working set, next to its working set on the start page and just
//       before Install, and the size of its mapped image,
//   (5) the payload's test pass and extraction as the setup measured them itself in the same
//       run (MW_INSTALL_TIMINGS), and the ratio of (2) to their sum;
// then the medians with the fastest and slowest run, and the targets beside them.
// Between the setup's runs, interleaved with them, the same installation through a peer: an
// NSIS installer of the same files to the same folders (built beside this program when the
// build found makensis), with its times to the first page, from Install to its end and from
// the launch to the process's end, and its peak working set; both sets of medians side by
// side with their ratios. First of all, the sizes of the setup, its payload, the programs in
// the payload and the peer.
//   bench_wizard [RUNS]   RUNS: counted runs of each (7 unless given)

#include "app/string_table.hpp"
#include "app/strings.hpp"
#include "bench/peer_run.hpp"
#include "engine/registry.hpp"
#include "resources/resource_ids.h"
#include "support/temp_names.hpp"
#include "tests/app/wizard_support.hpp"
#include "tests/scratch.hpp"

#include <windows.h>
#include <psapi.h>

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using namespace wizard_testing;
using clock_type = std::chrono::steady_clock;

// What the decompressor needs for the payload's blocks of `level` x 100 kB (the digit after
// "BZh" at the start of a bzip2 stream), as libbz2 states it: 100 kB and 4 bytes a block byte
// in its default mode, 2.5 in its small mode; and the one buffer the copy into it moves.
struct decompressor_need {
    int level = 9;
    double default_bytes() const { return 100e3 + 4 * 100e3 * level; }
    double small_bytes() const { return 100e3 + 2.5 * 100e3 * level; }
};
constexpr double pipeline_bytes = 4096;

decompressor_need decompressor_need_of(const fs::path& payload)
{
    std::ifstream in(payload, std::ios::binary);
    char header[4] = {};
    decompressor_need need;
    if (in.read(header, 4) && header[0] == 'B' && header[1] == 'Z' && header[2] == 'h' && header[3] >= '1' &&
        header[3] <= '9')
        need.level = header[3] - '0';
    return need;
}
constexpr double mib = 1048576.0;

constexpr wchar_t user_maker_key[] = L"Software\\Marrowind Works";

struct run_figures {
    double first_page = 0;  // s
    double install = 0;     // s, Install pressed to the end of the run
    double exit = 0;        // s, Exit pressed to the process's end
    double total = 0;       // s, the process's creation to its end
    double test_pass = 0;   // s, as the setup measured it
    double extraction = 0;  // s, as the setup measured it
    double start_page_working_set = 0; // bytes
    double install_page_working_set = 0; // bytes, just before Install
    double peak_working_set = 0;       // bytes
    double ratio() const { return install / (test_pass + extraction); }
};

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// The working set figures of a process; empty when they cannot be read (the process has ended
// and its counters with it).
std::optional<PROCESS_MEMORY_COUNTERS> memory_of(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters) || counters.PeakWorkingSetSize == 0)
        return std::nullopt;
    return counters;
}

// The value of "name=<milliseconds>" in the setup's timings file, in seconds; 0 when missing.
double timing_of(const std::string& timings, const std::string& name)
{
    const std::size_t at = timings.rfind(name + "=");
    return at == std::string::npos ? 0 : std::strtod(timings.c_str() + at + name.size() + 1, nullptr) / 1000;
}

// SizeOfImage of a 32-bit executable: how much address space its image takes once mapped.
std::uint32_t size_of_image(const std::string& image)
{
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS32 nt{};
    if (image.size() < sizeof dos)
        return 0;
    std::memcpy(&dos, image.data(), sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 ||
        image.size() < static_cast<std::size_t>(dos.e_lfanew) + sizeof nt)
        return 0;
    std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
    return nt.Signature == IMAGE_NT_SIGNATURE ? nt.OptionalHeader.SizeOfImage : 0;
}

// One quick installation from a clean machine; empty when the run did not reach its end.
std::optional<run_figures> quick_installation(const fs::path& timings_file, const std::wstring& success_hint)
{
    remove_leftovers();
    const installer_size_guard size_guard; // every run starts with the frame's own size
    std::error_code ignored;
    fs::remove(timings_file, ignored);

    run_figures figures;
    std::optional<DWORD> exit_code;
    PROCESS_MEMORY_COUNTERS peak{};
    const auto launched = clock_type::now();
    {
        wizard setup(setup_command(), {{L"MW_INSTALL_TIMINGS", timings_file.wstring()}});
        figures.first_page = seconds_since(launched);
        if (const auto memory = memory_of(setup.process.handle()))
            figures.start_page_working_set = static_cast<double>(memory->WorkingSetSize);

        if (!setup.next_to(mode_page) || !setup.next_to(install_page))
            return std::nullopt;
        if (const auto memory = memory_of(setup.process.handle()))
            figures.install_page_working_set = static_cast<double>(memory->WorkingSetSize);
        const auto pressed = clock_type::now();
        if (!setup.install())
            return std::nullopt;
        figures.install = seconds_since(pressed);
        if (setup.status(install_page) != success_hint) {
            std::printf("  the run did not succeed: %ls\n", setup.status(install_page).c_str());
            return std::nullopt;
        }

        if (!setup.next_to(end_page))
            return std::nullopt;
        // The counters of an ended process cannot be read under every system: read them last
        // thing before Exit, and again after the end where that works.
        if (const auto memory = memory_of(setup.process.handle()))
            peak = *memory;
        const auto exit_pressed = clock_type::now();
        setup.press(IDC_EXIT);
        exit_code = setup.process.wait_for_exit(installation_timeout);
        figures.exit = seconds_since(exit_pressed);
        figures.total = seconds_since(launched);
        if (const auto memory = memory_of(setup.process.handle()))
            peak.PeakWorkingSetSize = std::max(peak.PeakWorkingSetSize, memory->PeakWorkingSetSize);
    }
    figures.peak_working_set = static_cast<double>(peak.PeakWorkingSetSize);
    if (exit_code != std::optional<DWORD>(0))
        return std::nullopt;

    const std::string timings = read_bytes(timings_file);
    fs::remove(timings_file, ignored);
    figures.test_pass = timing_of(timings, "test_pass_ms");
    figures.extraction = timing_of(timings, "extraction_ms");

    // The installed uninstall program takes it all away again, as a user would.
    if (!uninstall(places().install_folder))
        std::printf("  the uninstall program did not end cleanly; its leftovers are removed\n");
    return figures;
}

// The lines of `after` that `before` lacks, and those it lost, marked + and -.
void print_changes(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after)
{
    for (const std::wstring& line : after)
        if (std::find(before.begin(), before.end(), line) == before.end())
            std::printf("    + %ls\n", line.c_str());
    for (const std::wstring& line : before)
        if (std::find(after.begin(), after.end(), line) == after.end())
            std::printf("    - %ls\n", line.c_str());
}

void print_run(const char* label, const run_figures& f)
{
    std::printf("%-8s %7.3f %9.3f %7.3f %9.3f %9.3f %6.2f %8.1f %8.1f %7.3f\n", label, f.first_page, f.install, f.exit,
                f.test_pass, f.extraction, f.ratio(), f.start_page_working_set / mib, f.peak_working_set / mib,
                f.total);
}

void print_peer_run(const char* label, const bench::peer_figures& f)
{
    std::printf("%-8s %7.3f %9.3f %45s %8.1f %7.3f\n", label, f.first_page, f.install, "", f.peak_working_set / mib,
                f.total);
}

// The size of a file in bytes; -1 when it is not there.
double size_on_disk(const fs::path& path)
{
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? -1 : static_cast<double>(size);
}

void print_size(const char* what, const fs::path& path)
{
    const double size = size_on_disk(path);
    if (size < 0)
        std::printf("  %-28s missing (%ls)\n", what, path.c_str());
    else
        std::printf("  %-28s %10.0f bytes %7.2f MiB\n", what, size, size / mib);
}

// The sizes of the setup, its payload archive, the programs the payload carries (as the build
// staged them for packing) and the peer installer.
void print_sizes(const fs::path& setup_exe, const fs::path& peer_setup)
{
    const fs::path resources = setup_exe.parent_path().parent_path() / L"resources";
    const fs::path staged = resources / L"payload-files";
    std::printf("sizes\n");
    print_size("setup.exe", setup_exe);
    print_size("payload (payload.bz2)", resources / L"payload.bz2");
    print_size("  Tilewright.exe", staged / L"Tilewright.exe");
    print_size("  Uninstall.exe", staged / L"Uninstall.exe");
    for (const char* language : {"de", "es", "fr"}) {
        const std::string name = std::string("Tilewright_") + language + ".dll";
        print_size(("  Lang\\" + name).c_str(), staged / L"Lang" / name);
    }
    if (!peer_setup.empty())
        print_size("peer installer (NSIS)", peer_setup);
    std::printf("\n");
}

struct spread {
    double median, low, high;
};

template <class Run, class Field>
spread spread_of(const std::vector<Run>& runs, Field field)
{
    std::vector<double> v;
    for (const Run& r : runs)
        v.push_back(field(r));
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return {median, v.front(), v.back()};
}

std::string verdict(bool met, const std::string& target)
{
    return "target " + target + (met ? "  met" : "  MISSED");
}

void print_spread(const char* what, const spread& s, const char* unit, const std::string& target)
{
    std::printf("%-34s %9.3f  %9.3f - %-9.3f %-4s %s\n", what, s.median, s.low, s.high, unit, target.c_str());
}

// One line of the comparison: the setup's median and spread, the peer's, their ratio and a
// target for the ratio when there is one.
void print_against(const char* what, const spread& ours, const spread& peer, const char* unit,
                   std::optional<double> ratio_target)
{
    const double ratio = ours.median / peer.median;
    std::printf("%-24s %7.3f (%7.3f - %7.3f) %-3s  %7.3f (%7.3f - %7.3f) %-3s  %6.2f", what, ours.median, ours.low,
                ours.high, unit, peer.median, peer.low, peer.high, unit, ratio);
    if (ratio_target)
        std::printf("  %s", verdict(ratio <= *ratio_target, fmt::format("<= {:.2f}", *ratio_target)).c_str());
    std::printf("\n");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 7;
    // The setup starts in the user's language, and so do the texts this program compares.
    setup::set_language(setup::pick_user_language(setup::setup_languages));
    const std::wstring success_hint = setup::format_text(setup::load_string(IDS_CONTINUE), setup::load_string(IDS_NEXT));
    const fs::path timings_file = mw::unique_temp_path(L"mw-install-timings-%%%%%%%%.txt");

    const fs::path setup_exe = program_beside_tests(L"setup.exe");
    const std::string image = read_bytes(setup_exe);
    const double image_size = size_of_image(image);

#ifdef MW_PEER_INSTALLER
    const fs::path peer_setup = program_beside_tests(MW_PEER_INSTALLER);
    const bool with_peer = fs::exists(peer_setup);
    const std::wstring peer_missing = L"the build made no " + peer_setup.wstring();
#else
    const fs::path peer_setup;
    const bool with_peer = false;
    const std::wstring peer_missing = MW_PEER_MISSING;
#endif
    print_sizes(setup_exe, with_peer ? peer_setup : fs::path());

    bench::remove_peer_installation();
    const machine_snapshot clean = take_snapshot();
    // The setup keeps its window size under the maker's key of the user: a key that the runs
    // created for it alone goes again at the end.
    const bool user_key_existed = static_cast<bool>(setup::open_key(HKEY_CURRENT_USER, user_maker_key));

    std::printf("quick installations of %ls: 1 warm-up run, %d counted\n", setup_exe.filename().c_str(), runs);
    if (with_peer)
        std::printf("each followed by one of the peer %ls (lines \"peer\")\n", peer_setup.filename().c_str());
    else
        std::printf("no peer to measure against: %ls\n", peer_missing.c_str());
    std::printf("run      first    install    exit   test pass extraction ratio  start WS  peak WS total\n");
    std::printf("         page s   s          s      s         s          (2)/(5) MiB      MiB     s\n");
    std::vector<run_figures> counted;
    std::vector<bench::peer_figures> peer_counted;
    int failed = 0;
    for (int run = 0; run <= runs; ++run) {
        std::optional<run_figures> figures;
        try {
            figures = quick_installation(timings_file, success_hint);
        } catch (const std::exception& e) {
            std::printf("  %s\n", e.what());
        }
        remove_leftovers();
        if (!figures) {
            std::printf("%-8s failed\n", run == 0 ? "warm-up" : std::to_string(run).c_str());
            ++failed;
            continue;
        }
        print_run(run == 0 ? "warm-up" : std::to_string(run).c_str(), *figures);
        if (run > 0)
            counted.push_back(*figures);
        if (!with_peer)
            continue;
        std::optional<bench::peer_figures> peer_figures;
        try {
            peer_figures = bench::peer_installation(peer_setup);
        } catch (const std::exception& e) {
            std::printf("  %s\n", e.what());
        }
        bench::remove_peer_installation();
        const std::string label = run == 0 ? "peer w-u" : "peer " + std::to_string(run);
        if (!peer_figures) {
            std::printf("%-8s failed\n", label.c_str());
            ++failed;
            continue;
        }
        print_peer_run(label.c_str(), *peer_figures);
        if (run > 0)
            peer_counted.push_back(*peer_figures);
    }
    if (!user_key_existed)
        RegDeleteKeyW(HKEY_CURRENT_USER, user_maker_key); // kept if anything else is under it
    const machine_snapshot after = take_snapshot();
    const bool left_clean = after == clean;
    if (counted.empty()) {
        std::printf("no run reached its end\n");
        return 1;
    }

    const decompressor_need decompressor =
        decompressor_need_of(setup_exe.parent_path().parent_path() / L"resources" / L"payload.bz2");
    const double peak_target = (image_size + decompressor.default_bytes() + pipeline_bytes) / mib;
    const double peak_target_small = (image_size + decompressor.small_bytes() + pipeline_bytes) / mib;
    const spread first_page = spread_of(counted, [](const run_figures& r) { return r.first_page; });
    const spread install = spread_of(counted, [](const run_figures& r) { return r.install; });
    const spread exit = spread_of(counted, [](const run_figures& r) { return r.exit; });
    const spread test_pass = spread_of(counted, [](const run_figures& r) { return r.test_pass; });
    const spread extraction = spread_of(counted, [](const run_figures& r) { return r.extraction; });
    const spread phases = spread_of(counted, [](const run_figures& r) { return r.test_pass + r.extraction; });
    const spread ratio = spread_of(counted, [](const run_figures& r) { return r.ratio(); });
    const spread start_set = spread_of(counted, [](const run_figures& r) { return r.start_page_working_set / mib; });
    const spread install_set = spread_of(counted, [](const run_figures& r) { return r.install_page_working_set / mib; });
    const spread peak = spread_of(counted, [](const run_figures& r) { return r.peak_working_set / mib; });

    std::printf("\n%d counted runs%s; median, fastest - slowest (the machine's noise), target\n", runs,
                failed ? " (SOME FAILED)" : "");
    const double install_target = 1.3 * phases.median;
    print_spread("(1) launch to first page", first_page, "s", verdict(first_page.median <= 0.3, "<= 0.300 s"));
    print_spread("(2) Install to success", install, "s",
                 verdict(install.median <= install_target, fmt::format("<= {:.3f} s (1.3 x (5a + 5b))", install_target)));
    print_spread("(3) Exit to process end", exit, "s", "");
    print_spread("(5a) test pass (in the setup)", test_pass, "s", "");
    print_spread("(5b) extraction with read-back", extraction, "s", "");
    print_spread("     5a + 5b", phases, "s", "");
    print_spread("ratio (2) / (5a + 5b)", ratio, "", verdict(ratio.median <= 1.3, "<= 1.30"));
    print_spread("working set on the start page", start_set, "MiB", "");
    print_spread("working set just before Install", install_set, "MiB", "");
    print_spread("(4) peak working set", peak, "MiB", verdict(peak.median <= peak_target, fmt::format("<= {:.2f} MiB", peak_target)));
    std::printf("    mapped image: setup.exe %.2f MiB on disk, SizeOfImage %.2f MiB\n", image.size() / mib,
                image_size / mib);
    std::printf("    target: image + decompressor (bzip2 -%d: %.1f MB; %.1f MB small) + one 4096-byte buffer"
                " = %.2f MiB (%.2f MiB small)\n",
                decompressor.level, decompressor.default_bytes() / 1e6, decompressor.small_bytes() / 1e6, peak_target,
                peak_target_small);
    std::printf("    peak over the image: %.2f MiB (the system's own code and data in the process, the windows)\n",
                peak.median - image_size / mib);
    std::printf("    the installation's own growth (peak over the working set before Install): %.2f MiB,"
                " decompressor and buffer %.2f MiB\n",
                peak.median - install_set.median, (decompressor.default_bytes() + pipeline_bytes) / mib);

    if (peer_counted.empty()) {
        std::printf("\nno comparison with the peer: %ls\n",
                    with_peer ? L"no run of the peer reached its end" : peer_missing.c_str());
    } else {
        const auto of_peer = [&](auto field) { return spread_of(peer_counted, field); };
        const spread ours_total = spread_of(counted, [](const run_figures& r) { return r.total; });
        std::printf("\nthe setup against the peer %ls (NSIS, solid bzip2), %zu and %zu runs interleaved;"
                    " median (fastest - slowest)\n",
                    peer_setup.filename().c_str(), counted.size(), peer_counted.size());
        std::printf("%-24s %-33s %-33s %s\n", "", "setup: median (fastest - slowest)", "peer", "setup/peer");
        print_against("launch to first page", first_page, of_peer([](const bench::peer_figures& r) { return r.first_page; }),
                      "s", std::nullopt);
        print_against("Install to done", install, of_peer([](const bench::peer_figures& r) { return r.install; }), "s",
                      std::nullopt);
        print_against("launch to process end", ours_total, of_peer([](const bench::peer_figures& r) { return r.total; }),
                      "s", 1.3);
        print_against("peak working set", peak,
                      of_peer([](const bench::peer_figures& r) { return r.peak_working_set / mib; }), "MiB", 1.0);
        std::printf("    the setup decompresses the payload twice (its test pass, then the extraction) and reads"
                    " every file back; the peer decompresses once (it checks its own file's CRC at launch)\n");
        std::printf("    the setup's run goes through its start, mode, install and end pages, the peer's through its"
                    " directory and progress pages\n");
    }
    std::printf("prefix left clean (nothing installed): %s\n", left_clean ? "yes" : "NO");
    print_changes(clean.files, after.files);
    print_changes(clean.registry, after.registry);
    return failed || !left_clean ? 1 : 0;
}
