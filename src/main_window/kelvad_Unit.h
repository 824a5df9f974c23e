#pragma once
// The program's window: device map, current product and output folders, the result file
// cycle, the traverse import into scan files and the plate import into xy files.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/sprachen.h"
#include "platform/platform.h"
#include "scanner/fs_scanner_main_unit.h"

namespace kelvad {

enum class result_kind { unknown, o3p_plate_result, ongq_traverse_result };

// What became of an xy file.
enum class xy_outcome { written, name_taken, not_written };

// What the cycle has done since the start, for the health line.
struct health_counts {
    std::uint64_t traverse = 0;  // traverse results processed
    std::uint64_t plate = 0;     // plate results converted
    std::uint64_t unknown = 0;   // files of no known kind deleted
    std::uint64_t failed = 0;    // inputs moved to the failed folder
};

// One line of fixed form that monitoring reads from the log:
//   health: since start 123 traverse, 45 plate, 6 unknown, 2 failed; waiting 7, oldest 12 s;
//   memory 23.4 MB, handles 31, gdi 12, user 9
// (on one line). Figures the system does not give are left out with their key.
std::string health_line(const health_counts& counts, std::size_t waiting, std::int64_t oldest_s,
                        const platform::footprint& footprint);

inline constexpr std::uint32_t default_health_interval_s = 3600;

class Tkelvad_main : public TFS_scanner_main {
  public:
    explicit Tkelvad_main(ui::toolkit& tk);
    ~Tkelvad_main() override;

    void timer_action() override;
    void compose_total_output_path() override;
    void set_new_product() override;
    void initialize_sc_data() override;

    void FormCreate();
    // Logs the last health line, then the shutdown of the scanner window.
    void FormDestroy();
    void health_timerTimer();

    // Writes the health line to the log: the counts since start, the result files waiting now
    // (one listing of the transfer folder) and what the process holds of the system.
    void log_health();

    std::string output_path(const std::string& measurement_name);
    static std::string base_product_name(const std::string& product);
    void restore_base_product();

    bool file_is_ready(const std::string& path);
    static result_kind result_file_kind(const std::string& file_name);
    void handle_result_file();
    void discard_unknown_file();
    void import_ongq_result();
    void import_o3p_result();
    // Writes the xy file into the folder; the text to report: the file's path or an error.
    std::string write_xy_file(const std::string& plate_name, const std::string& folder,
                              const std::string& wavelength_line, const std::string& value_line,
                              xy_outcome* outcome = nullptr);

    // Appends one line to the message list (whose lines also go to the log).
    void report(const std::string& line);

    // Removes the program's own temporary files that a crash left and no running import owns.
    // (Result files left under their readiness-test name are put back at every tick.)
    void clean_up_after_crash();

    // How long a result file may wait (still written, held open) before that is reported: a
    // file caught while the measurement system writes it is no news, one that stays is.
    std::int64_t waiting_report_after_ms = 10000;

    std::unique_ptr<sprachen> device_map;
    health_counts health;
    // State of one tick of the cycle.
    bool file_busy = false;
    std::string scan_name;

    ui::label Label2;
    ui::text_list Message_board;
    ui::text_list Memo1;
    // Ticks the health line; its interval is set before the start-up (one hour by default).
    ui::timer health_timer;

  private:
    // What the cycle knows of one result file from one tick to the next.
    struct file_watch {
        std::optional<platform::file_stamp> last_stamp;  // at the last look
        std::string reason;                              // why it is not taken, as reported
        std::int64_t reason_since_ns = 0;
        bool reported = false;
        // A step left over from an earlier tick: the file is not converted again.
        enum class pending_step { none, delete_input, move_to_failed } pending = pending_step::none;
        platform::file_stamp pending_stamp;
        std::vector<std::string> lines_after_delete;  // the success lines, said once deleted
        bool seen = false;                            // listed in this tick
    };

    std::string input_file_path() const;
    std::string current_product_folder() const;
    // True when a folder the tick needs is there. A missing one is said once in the message list
    // ("Waiting: ..."), and end_folder_wait says once that the tick goes on again.
    bool folder_present(const std::string& folder);
    void end_folder_wait();
    file_watch& watch_of_current_file();
    // The separator that ends the messages of one file.
    void report_end_of_file();
    // Reports a reason once; with `delayed` only when it has lasted waiting_report_after_ms.
    void note_reason(file_watch& watch, const std::string& reason, bool delayed);
    void clear_reason(file_watch& watch, const std::string& path);
    // Takes the transfer folder's lock; false when another scanner serves it.
    bool claim_transfer_folder();
    void restore_stranded_free_tests();
    // A step left from an earlier tick (delete, move to failed) is tried again; true when the
    // file had one, so that it is not converted a second time.
    bool retry_pending_step();
    // Reads the input whole into line_list; false (and the file sent to failed) when it is too
    // large or cannot be read.
    bool load_input();
    // Archives the input from the bytes that were converted; false when the copy failed and
    // the input went to failed instead of being deleted.
    bool archive_input_file(const std::string& scan_file);
    // Deletes the input now that all that was made of it is on disk, then says the lines.
    void finish_input(std::vector<std::string> success_lines);
    // Moves the input file, unchanged, into the "failed" folder of the input folder and says
    // why and where it went.
    void move_to_failed(const std::string& reason);
    bool try_move_to_failed(std::string& why);

    std::map<std::string, file_watch> watches_;
    platform::folder_lock serve_lock_;
    std::string input_bytes_;
    std::string waiting_for_;     // the folder another scanner serves, as reported
    std::string lock_error_for_;  // the folder whose lock file could not be made, as reported
    std::string missing_folder_;  // the missing folder the cycle waits for, as reported
    std::string missing_folder_reason_;  // and what was said of it
};

// The ORVEL database below its folder (`orvel_path` ends in a separator): the folder whose one
// file names the current product, that product (empty when the folder holds no file or is
// missing), and the folder of a product and a measurement that receives its files (without a
// separator at its end).
std::string current_product_folder_of(const std::string& orvel_path);
std::string current_product_in(const std::string& orvel_path);
std::string measurement_output_folder(const std::string& orvel_path, const std::string& product,
                                      const std::string& measurement);

// A name taken from inside a result file may name a file only when it is one plain file name:
// not blank, not "." or "..", no folder part, no drive, no character that Windows forbids, no
// Windows device name, not ending in a dot or a blank.
bool is_safe_file_name(const std::string& name);

// The lock file that tells other scanners that this transfer folder is served.
inline constexpr char transfer_lock_file_name[] = "Kelvad.lock";

}  // namespace kelvad
