#pragma once
// The program's window: device map, current product and output folders, the result file
// cycle, the traverse import into scan files and the plate import into xy files.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/durable_files.h"
#include "foundation/sprachen.h"
#include "platform/platform.h"
#include "scanner/fs_scanner_main_unit.h"

namespace kelvad {

enum class result_kind { unknown, o3p_plate_result, ongq_traverse_result };

// The text of an xy file: the k-th wavelength and the k-th value of the two ";" lists on line
// k, as far as the shorter list reaches.
std::string xy_text(std::string_view wavelengths, std::string_view values);

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

    // Completes the hand-off of every file of this tick whose outputs are written: their data
    // flushed in one step, renamed to their final names, each folder flushed once, then the
    // inputs deleted, the transfer folder flushed, and only then their lines said. Runs at the
    // end of every tick and before a box holds the line.
    void complete_hand_offs();

    // Appends one line to the message list (whose lines also go to the log). The lines of a
    // file whose hand-off is not complete are held and said together with its outcome.
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
    // A result file of this tick whose hand-off is not complete: its outputs written under
    // temporary names but neither flushed nor renamed, its input not deleted, its lines held.
    struct file_in_hand {
        std::string name;  // empty: lines said between files, no file of their own
        std::vector<std::string> lines;
        std::vector<staged_output> outputs;
        // The rest of its import once the outputs' data is on the disk: puts them in place
        // (place_output) and gives the lines to say once the input is deleted, or nothing
        // when the input stays (kept in failed).
        std::function<std::optional<std::vector<std::string>>()> complete;
        std::optional<std::vector<std::string>> success;  // delete the input, then say these
        bool deleted = false;
    };

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
    // Puts files left under their readiness-test name back: when the folder is taken, and
    // after a test of this program could not rename a file back.
    void restore_stranded_free_tests();
    // Drops what the cycle knew of files no longer listed (and all of another folder).
    void forget_files_gone(const std::vector<std::string>& names);
    // Takes the ready files of the listing in order, at most 31.
    void take_files(platform::file_listing& listing);
    // A step left from an earlier tick (delete, move to failed) is tried again; true when the
    // file had one, so that it is not converted a second time.
    bool retry_pending_step();
    // Reads the input whole into line_list; false (and the file sent to failed) when it is too
    // large or cannot be read.
    bool load_input();
    // Writes the archive copy of the input from the bytes that were converted (when ORVEL has
    // an archive); its number among the current file's outputs.
    std::optional<std::size_t> stage_archive_copy();
    // Puts the archive copy in place; false when it failed and the input went to failed
    // instead of being deleted.
    bool place_archive_copy(std::size_t output, const std::string& scan_file);
    // The input is to be deleted once all that was made of it is on disk; the lines are said
    // after that.
    void finish_input(std::vector<std::string> success_lines);
    // Writes an output of the current file under its temporary name; it is flushed and put in
    // place when the hand-offs complete. Returns its number for place_output.
    std::size_t stage(const std::string& target, std::string_view bytes, bool replace);
    placement place_output(std::size_t output);
    void complete_one(file_in_hand& file);
    void delete_input_of(file_in_hand& file);
    // The lines of a completed file, its outcome's after its own, and the separator.
    static void lines_of(file_in_hand& file, std::vector<std::string>& lines);
    // A box that a result file raises: what came before it is said first.
    void show_file_box(const std::string& text);
    // Moves the input file, unchanged, into the "failed" folder of the input folder and says
    // why and where it went.
    void move_to_failed(const std::string& reason);
    bool try_move_to_failed(std::string& why);

    file_in_hand current_;                     // the file being converted
    bool converting_ = false;                  // current_ holds the file being converted
    file_in_hand* completing_ = nullptr;       // the file whose hand-off completes now
    std::vector<file_in_hand> in_hand_;        // converted in this tick, in the order taken
    std::vector<std::string> placed_folders_;  // folders that received outputs, to flush
    std::map<std::string, file_watch, std::less<>> watches_;  // by file name
    std::string watched_folder_;                              // the folder they belong to
    bool stranded_free_test_ = false;
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
