// Figures of the result file cycle, each measured side by side in one run:
//
//  import   the cycle's own work per traverse result (32 positions x 3 kinds x 125 points,
//           archive folder present, ticks back to back on the headless back end) against the
//           floor of the same file operations done directly with the bytes prepared in memory:
//           read the input, write the scan file through a temporary file, copy the input to the
//           archive under a temporary name, rename it, delete the input.
//  backlog  one 31-file tick with 10,000 and with 100,000 files waiting against one with 31
//           waiting, and the drain rate this gives with the one-second gap between ticks.
//
// Usage: kelvad_bench [--only import|backlog] [--rounds N] [--import-files N]
//                     [--backlog N] [--repeats N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/calendar.h"
#include "foundation/file_utils.h"
#include "foundation/log.h"
#include "main_window/kelvad_Unit.h"
#include "platform/platform.h"
#include "traverse_result.h"
#include "ui/headless/headless_toolkit.h"

namespace fs = std::filesystem;
using bench_clock = std::chrono::steady_clock;

namespace {

constexpr int files_per_tick = 31;
using kelvad::bench::crlf_lines;
using kelvad::bench::kinds;
using kelvad::bench::make_traverse;
using kelvad::bench::points;
using kelvad::bench::positions;
using kelvad::bench::traverse;

struct options {
    std::string only;
    int rounds = 9;
    int import_files = 4 * files_per_tick;
    int backlog = 0;  // 0: 10,000 and 100,000
    int repeats = 7;
};

double ms_since(bench_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(bench_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Old enough to be taken at once.
void age(const fs::path& path) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(10));
}

std::size_t files_in(const fs::path& folder, const std::string& extension) {
    std::size_t n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == extension) ++n;
    return n;
}

// A private ORVEL tree and transfer folder, the configuration beside this program, and the
// main window on the headless toolkit.
class bench_site {
  public:
    bench_site() {
        root = fs::temp_directory_path() /
               ("kelvad-bench-" + std::to_string(bench_clock::now().time_since_epoch().count()));
        input = root / "in";
        orvel = root / "orvel";
        output = orvel / "database" / "products" / "Production" / "measurements" / "BE" / "new";
        fs::create_directories(input);
        fs::create_directories(orvel / "archive");
        fs::create_directories(orvel / "database" / "current_product");
        write_file(orvel / "database" / "current_product" / "Production", "");
        fs::create_directories(output);
        fs::create_directories(root / "user-data");
        // The per-user data folder (device map, log) lies in the sandbox where the system lets
        // it be moved ($XDG_DATA_HOME); Windows names the user's roaming folder itself, so
        // there the bench removes again what it made in it. (putenv keeps the text itself.)
        static std::string data_home;
        data_home = "XDG_DATA_HOME=" + (root / "user-data").string();
        putenv(data_home.data());
        user_folder = kelvad::user_data_path("");
        made_user_folder = !fs::exists(user_folder);
        fs::create_directories(user_folder);
        kelvad::open_log(kelvad::default_log_path(), false);

        write_file(kelvad::program_file_path("orvel_path.ini"), crlf_lines({orvel.string()}));
        write_file(kelvad::program_file_path("orvel_scanner.ini"),
                   crlf_lines({input.string(), "BE", "", "1", std::to_string(points), "", "", "",
                               "", "0", "", "true"}));
        window = std::make_unique<kelvad::Tkelvad_main>(tk);
        window->run_handler([this] { window->FormCreate(); });
        if (!tk.boxes.empty()) throw std::runtime_error("start-up: " + tk.boxes.front().text);
    }

    ~bench_site() {
        window.reset();
        kelvad::close_log();
        std::error_code ignored;
        fs::remove(kelvad::program_file_path("orvel_path.ini"), ignored);
        fs::remove(kelvad::program_file_path("orvel_scanner.ini"), ignored);
        fs::remove_all(root, ignored);
        if (made_user_folder) fs::remove_all(user_folder, ignored);
    }

    void tick() { window->fire(window->Timer1); }

    void check_no_boxes(const char* where) const {
        if (!tk.boxes.empty())
            throw std::runtime_error(std::string(where) + ": message box " + tk.boxes.back().text);
    }

    fs::path root, input, orvel, output;
    fs::path user_folder;
    bool made_user_folder = false;
    kelvad::ui::headless_toolkit tk;
    std::unique_ptr<kelvad::Tkelvad_main> window;
};

std::string input_name(int round, int i) {
    char name[40];
    std::snprintf(name, sizeof name, "ONGQR_%02d_%05d.csv", round, i);
    return name;
}

// Where the cycle archives today's files.
fs::path archive_folder(const bench_site& site) {
    const kelvad::civil_time today = kelvad::civil_time_of(kelvad::platform::local_now_ms());
    return site.orvel / "archive" / "Production" / std::to_string(today.year) /
           std::to_string(today.month) / std::to_string(today.day) / "BE";
}

// Scan files and archive copies go between rounds; the folders stay, as the day's archive
// folders do after the day's first file.
void clear_outputs(const bench_site& site) {
    for (const fs::path& folder : {site.output, archive_folder(site)})
        for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
}

// The cycle's time per file for one round of traverse results.
double cycle_round(bench_site& site, const std::vector<traverse>& files, int round) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        const fs::path path = site.input / input_name(round, static_cast<int>(i));
        write_file(path, files[i].csv);
        age(path);
    }
    const int ticks = (static_cast<int>(files.size()) + files_per_tick - 1) / files_per_tick;
    const auto start = bench_clock::now();
    for (int t = 0; t < ticks; ++t) site.tick();
    const double ms = ms_since(start);

    site.check_no_boxes("import");
    if (files_in(site.input, ".csv") != 0) throw std::runtime_error("import: files left over");
    if (files_in(site.orvel / "archive", ".csv") != files.size())
        throw std::runtime_error("import: archive copies missing");
    for (const auto& t : files) {
        std::ifstream in(site.output / (t.scan_name + ".scn"), std::ios::binary);
        const std::string written((std::istreambuf_iterator<char>(in)), {});
        if (written != t.scan_bytes) throw std::runtime_error("import: scan file differs");
    }
    clear_outputs(site);
    return ms / static_cast<double>(files.size());
}

// The same file operations done directly, the scan file's bytes already in memory, in the same
// folders (on some file systems the cost of creating a file depends on its folder).
double floor_round(bench_site& site, const std::vector<traverse>& files, int round) {
    namespace platform = kelvad::platform;
    const fs::path out = site.output;
    const fs::path archive = archive_folder(site);
    fs::create_directories(archive);
    std::vector<std::string> sources;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const fs::path path = site.input / input_name(round, static_cast<int>(i));
        write_file(path, files[i].csv);
        age(path);
        sources.push_back(path.string());
    }
    const std::string archive_folder = archive.string();
    std::size_t bytes_read = 0;
    const auto start = bench_clock::now();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& source = sources[i];
        bytes_read += platform::read_file_bytes(source).value_or("").size();
        const std::string temp = platform::create_system_temp_file();
        platform::write_file_bytes(temp, files[i].scan_bytes);
        platform::copy_file_replace(temp, (out / (files[i].scan_name + ".scn")).string());
        platform::delete_file(temp);
        const std::string archive_temp = kelvad::random_temp_name(archive_folder);
        platform::copy_file_replace(source, archive_temp);
        platform::rename_no_replace(archive_temp,
                                    archive_folder + "/" + input_name(round, static_cast<int>(i)));
        platform::delete_file(source);
    }
    const double ms = ms_since(start);
    if (bytes_read == 0 || files_in(site.input, ".csv") != 0 ||
        files_in(site.orvel / "archive", ".csv") != files.size())
        throw std::runtime_error("floor: files not handled");
    clear_outputs(site);
    return ms / static_cast<double>(files.size());
}

void import_figure(bench_site& site, const options& o) {
    std::vector<traverse> files;
    for (int i = 0; i < o.import_files; ++i) files.push_back(make_traverse(i));
    std::vector<double> cycle, floor, ratio;
    cycle_round(site, files, 99);  // warm-up: caches, folders, a full message list
    floor_round(site, files, 98);
    for (int r = 0; r < o.rounds; ++r) {
        // Side by side and in alternating order, so that a drift of the machine meets both
        // alike; each round's ratio compares two neighbouring measurements. (On a file system
        // that skips recently freed inodes, creating a file grows dearer the more files were
        // deleted in the last minutes: the floor is not a constant of the machine.)
        if (r % 2) {
            floor.push_back(floor_round(site, files, r));
            cycle.push_back(cycle_round(site, files, r));
        } else {
            cycle.push_back(cycle_round(site, files, r));
            floor.push_back(floor_round(site, files, r));
        }
        ratio.push_back(cycle.back() / floor.back());
    }
    const double c = median(cycle), f = median(floor);
    std::printf(
        "import cost (%d traverse results of %d positions x %d kinds x %d points per "
        "round, %zu bytes each; median of %d rounds)\n",
        o.import_files, positions, kinds, points, files.front().csv.size(), o.rounds);
    std::printf("  cycle           %8.3f ms per file\n", c);
    std::printf("  floor           %8.3f ms per file\n", f);
    std::printf("  ratio           %8.2f      (median of the rounds' ratios)\n", median(ratio));
    // Every output flushed before its input goes: the price of that at full speed, as the
    // drain rate of a line that keeps 31 traverse results waiting.
    const double rate = files_per_tick / (1.0 + files_per_tick * c / 1000.0);
    std::printf("  drain rate, 31 waiting  %6.2f files/s\n", rate);
    std::printf("  share of 31 files/s     %6.1f %%   (goal: at least 95 %%)\n\n",
                100.0 * rate / files_per_tick);
}

class backlog_feeder {
  public:
    explicit backlog_feeder(bench_site& site) : site_(site) {}
    // Small files of no known kind: the cycle reports and deletes them, so the tick is
    // hardly more than its listings.
    void add(int count) {
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "w%07d.csv", next_++);
            const fs::path path = site_.input / name;
            write_file(path, "x;1\r\n");
            age(path);
        }
        waiting_ += count;
    }
    // One measured tick; it must take 31 files.
    double tick() {
        const auto start = bench_clock::now();
        site_.tick();
        const double ms = ms_since(start);
        waiting_ -= files_per_tick;
        if (files_in(site_.input, ".csv") != static_cast<std::size_t>(waiting_))
            throw std::runtime_error("backlog: the tick did not take 31 files");
        return ms;
    }
    int waiting() const { return waiting_; }

  private:
    bench_site& site_;
    int next_ = 0;
    int waiting_ = 0;
};

double backlog_tick(bench_site& site, backlog_feeder& feeder, int waiting, int repeats) {
    feeder.add(waiting - feeder.waiting());
    feeder.tick();  // warm-up
    std::vector<double> ms;
    for (int r = 0; r < repeats; ++r) {
        feeder.add(waiting - feeder.waiting());
        ms.push_back(feeder.tick());
    }
    site.check_no_boxes("backlog");
    return median(ms);
}

void backlog_figure(bench_site& site, const options& o) {
    backlog_feeder feeder(site);
    // The small case first: a folder that once held thousands of entries stays larger on disk.
    const double small = backlog_tick(site, feeder, files_per_tick, o.repeats);
    const double ceiling = files_per_tick / (1.0 + small / 1000.0);
    std::vector<int> sizes = {10000, 100000};
    if (o.backlog > 0) sizes = {o.backlog};
    std::vector<double> ticks;
    for (const int waiting : sizes) ticks.push_back(backlog_tick(site, feeder, waiting, o.repeats));
    std::printf(
        "backlog (files of no known kind, 5 bytes each, reported and deleted; median of "
        "%d ticks of 31 files; ceiling: 31 / (1 s + the tick with 31 waiting))\n",
        o.repeats);
    std::printf("  tick with %6d waiting          %8.1f ms\n", files_per_tick, small);
    std::printf("  drain rate with %6d waiting    %6.2f files/s\n", files_per_tick, ceiling);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const double rate = files_per_tick / (1.0 + ticks[i] / 1000.0);
        std::printf("  tick with %6d waiting          %8.1f ms\n", sizes[i], ticks[i]);
        std::printf("  drain rate with %6d waiting    %6.2f files/s\n", sizes[i], rate);
        // The goal grows stricter the smaller the backlog: a tick may cost one listing more.
        std::printf("  share of the ceiling, %6d waiting %6.1f %%   (goal: at least %d %%)\n",
                    sizes[i], 100.0 * rate / ceiling, sizes[i] <= 10000 ? 98 : 95);
    }
    std::printf("\n");
}

options parse(int argc, char** argv) {
    options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error("missing value after " + a);
            return argv[++i];
        };
        if (a == "--only") {
            o.only = value();
        } else if (a == "--rounds") {
            o.rounds = std::max(1, std::stoi(value()));
        } else if (a == "--import-files") {
            o.import_files = std::max(1, std::stoi(value()));
        } else if (a == "--backlog") {
            o.backlog = std::max(files_per_tick * 2, std::stoi(value()));
        } else if (a == "--repeats") {
            o.repeats = std::max(1, std::stoi(value()));
        } else {
            throw std::runtime_error("unknown option " + a);
        }
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const options o = parse(argc, argv);
        kelvad::seed_random_generator(kelvad::platform::random_seed());
        bench_site site;
        if (o.only.empty() || o.only == "import") import_figure(site, o);
        if (o.only.empty() || o.only == "backlog") backlog_figure(site, o);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kelvad_bench: %s\n", e.what());
        return 1;
    }
}
