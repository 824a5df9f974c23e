// The floor of a traverse import: the bare file operations the program does for one traverse
// result, without a flush, for the window price figure of scripts/bench, which measures this
// program's CPU time from outside as it measures the real program's, on the same files in the
// same run.
//
//   import_floor make <folder> <count> <scan folder>
//       writes <count> traverse results ONGQR_TRV_nnnnn.csv into <folder>, dated back so that
//       the program takes them at once, and the scan file each must give, TRV_nnnnn.scn, into
//       <scan folder>.
//   import_floor run|run-converting <input folder> <output folder> <archive folder> <scan folder>
//       reads the expected scan files into memory, says "ready" and waits for a line on its
//       standard input; then, for every ONGQR_*.csv of the input folder: looks at its stamp,
//       tests it free as the cycle does (renamed away and back, asked for a writer), reads it
//       whole, writes its scan file's bytes under a temporary name in the output folder and
//       renames it over the final name, writes the archive copy under a temporary name in the
//       archive folder and renames it to the input's name, deletes the input. "run" takes the
//       scan file's bytes from memory; "run-converting" makes them from the input with the
//       program's own text and scan functions, as the import does, and checks them against the
//       expected ones. It says "done <files>" and waits for another line before it ends, so
//       that the figure holds the file operations alone, not the start of the process.
//
// The paths are the system's own (on Windows drive letters and backslashes).

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/durable_files.h"
#include "foundation/file_utils.h"
#include "foundation/text.h"
#include "platform/platform.h"
#include "scan_record/scan_data.h"
#include "traverse_result.h"

namespace fs = std::filesystem;
namespace platform = kelvad::platform;

namespace {

constexpr char sep = platform::path_separator;
const std::string input_prefix = "ONGQR_";

void write_whole(const std::string& path, const std::string& bytes) {
    if (!platform::write_file_bytes(path, bytes)) throw std::runtime_error("cannot write " + path);
}

int make(const std::string& folder, int count, const std::string& scan_folder) {
    const auto dated_back = fs::file_time_type::clock::now() - std::chrono::seconds(10);
    for (int i = 0; i < count; ++i) {
        const kelvad::bench::traverse t = kelvad::bench::make_traverse(i);
        const std::string input = folder + sep + input_prefix + t.scan_name + ".csv";
        write_whole(input, t.csv);
        fs::last_write_time(platform::to_fs_path(input), dated_back);
        write_whole(scan_folder + sep + t.scan_name + ".scn", t.scan_bytes);
    }
    return 0;
}

void wait_for_line() {
    std::string line;
    std::getline(std::cin, line);
}

// The import's conversion of a traverse result of the benchmark's layout: the positions after
// the stamp line, then per spectrum kind a line "Spectrum" and one value line per position.
std::string converted(const std::string& bytes) {
    const kelvad::line_list_t lines = kelvad::split_lines(bytes);
    std::size_t index = 0;
    while (index < lines.size() && kelvad::ascii_lower(lines[index].substr(0, 5)) != "stamp")
        ++index;
    const std::size_t first_position = ++index;
    while (index < lines.size() &&
           kelvad::parse_whole_number(kelvad::semicolon_field(lines[index], 4)))
        ++index;
    const auto n = static_cast<std::int32_t>(index - first_position);
    kelvad::scan_data record;
    record.set_dimensions(n, kelvad::bench::kinds, kelvad::bench::points);
    for (std::int32_t k = 0; k < kelvad::bench::kinds; ++k) {
        record.first_wavelengths[k] = 380.0f;
        record.last_wavelengths[k] = 380.0f + 5.0f * (kelvad::bench::points - 1);
        record.kind_point_counts[k] = kelvad::bench::points;
    }
    for (std::int32_t p = 0; p < n; ++p)
        record.positions[p] =
            *kelvad::parse_whole_number(kelvad::semicolon_field(lines[first_position + p], 4));
    std::vector<std::string_view> bad_fields;
    for (std::int32_t kind = 0; kind < kelvad::bench::kinds; ++kind) {
        while (index < lines.size() && kelvad::ascii_lower(lines[index].substr(0, 8)) != "spectrum")
            ++index;
        ++index;
        for (std::int32_t p = 0; p < n && index < lines.size(); ++p, ++index)
            kelvad::read_decimal_fields(
                lines[index],
                std::span<float>(&record.values[record.value_index(p, kind, 0)],
                                 static_cast<std::size_t>(kelvad::bench::points)),
                bad_fields);
    }
    if (!bad_fields.empty()) throw std::runtime_error("a value is no number");
    return record.scan_file_bytes();
}

int run(const std::string& input, const std::string& output, const std::string& archive,
        const std::string& scan_folder, bool converting) {
    // The scan file bytes are the conversion's result; the floor only puts them in place.
    std::map<std::string, std::string> scan_bytes;
    for (const std::string& name : platform::list_plain_files(scan_folder + sep + "*.scn")) {
        const std::optional<std::string> bytes =
            platform::read_file_bytes(scan_folder + sep + name);
        if (!bytes) throw std::runtime_error("cannot read " + name);
        scan_bytes[name.substr(0, name.size() - 4)] = *bytes;
    }
    std::cout << "ready" << std::endl;
    wait_for_line();

    int files = 0;
    for (const std::string& name :
         platform::list_plain_files(input + sep + input_prefix + "*.csv")) {
        const std::string path = input + sep + name;
        const std::string scan_name =
            name.substr(input_prefix.size(), name.size() - input_prefix.size() - 4);
        const auto scan = scan_bytes.find(scan_name);
        if (scan == scan_bytes.end()) throw std::runtime_error("no scan file for " + name);

        if (!platform::stamp_of(path)) throw std::runtime_error("cannot look at " + path);
        const kelvad::free_test test = kelvad::test_file_free(path);
        if (!test.renamed || test.writer == platform::writer_check::writer)
            throw std::runtime_error("not free: " + path);
        const std::optional<std::string> bytes = platform::read_file_bytes(path);
        if (!bytes) throw std::runtime_error("cannot read " + path);
        std::string scan_bytes_made;
        if (converting) {
            scan_bytes_made = converted(*bytes);
            if (scan_bytes_made != scan->second)
                throw std::runtime_error("the conversion of " + name + " differs");
        }
        const std::string scan_temp = kelvad::own_temp_name(output);
        write_whole(scan_temp, converting ? scan_bytes_made : scan->second);
        if (!platform::replace_file(scan_temp, output + sep + scan_name + ".scn"))
            throw std::runtime_error("cannot rename " + scan_temp);
        const std::string archive_temp = kelvad::own_temp_name(archive);
        write_whole(archive_temp, *bytes);
        if (!platform::rename_no_replace(archive_temp, archive + sep + name))
            throw std::runtime_error("cannot rename " + archive_temp);
        if (!platform::delete_file(path)) throw std::runtime_error("cannot delete " + path);
        ++files;
    }
    std::cout << "done " << files << std::endl;
    wait_for_line();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        kelvad::seed_random_generator(platform::random_seed());
        platform::keep_freed_memory_for_reuse();  // as the program does
        if (args.size() == 4 && args[0] == "make")
            return make(args[1], std::stoi(args[2]), args[3]);
        if (args.size() == 5 && (args[0] == "run" || args[0] == "run-converting"))
            return run(args[1], args[2], args[3], args[4], args[0] == "run-converting");
        std::cerr << "usage: import_floor make <folder> <count> <scan folder>\n"
                     "       import_floor run|run-converting <input> <output> <archive> "
                     "<scan folder>\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "import_floor: " << e.what() << "\n";
        return 1;
    }
}
