#include "foundation/startup.h"

#include "foundation/error.h"
#include "foundation/file_utils.h"
#include "foundation/sprachen.h"
#include "foundation/text.h"
#include "platform/platform.h"

namespace kelvad {

bool never_use_workbook = false;
bool ask_for_workbook = false;

namespace {

bool started = false;

const char* const workbook_question =
    "Generate \"historic\" workbook component to be able to load old configurations "
    "(version<3.20) including workbook data?";
const char* const workbook_caption = "Optional setting";

bool is_true(const line_list_t& lines, std::string_view key) {
    return ascii_lower(lookup_in_pair_list(key, lines, "")) == "true";
}

}  // namespace

void process_startup(const yes_no_question& ask) {
    if (started) return;
    started = true;
    seed_random_generator(platform::random_seed());

    // The per-user folder and its two sub-folders; what cannot be made is not reported. The
    // data folder above it may be missing too: a fresh account, such as the system account of
    // a service, has no ~/.local/share yet, and without the folder there would be no log.
    const std::string folder = join_path(user_app_data_folder(), program_base_name());
    ensure_folder_and_parents(folder);
    ensure_folder(join_path(folder, "downloads"));
    ensure_folder(join_path(folder, "uploads"));

    // The classic message-box style is what the toolkits' plain boxes show anyway.
    read_workbook_options(ask);
}

void process_shutdown() {
    // The window is gone: nothing may reach its boxes or its cursor any more.
    set_message_box_handler(nullptr);
    set_busy_cursor_handler(nullptr);
}

bool find_workbook_ini(std::string& path) {
    for (const std::string& candidate :
         {user_data_path("vcf132.ini"), program_file_path("vcf132.ini")}) {
        if (platform::file_exists(candidate)) {
            path = candidate;
            return true;
        }
    }
    return false;
}

void read_workbook_options(const yes_no_question& ask) {
    never_use_workbook = false;
    ask_for_workbook = false;
    std::string path;
    if (!find_workbook_ini(path)) return;
    line_list_t lines;
    try {
        lines = load_lines(path);
    } catch (const kelvad_error&) {
        return;  // a file that cannot be read (locked) leaves both flags false
    }
    never_use_workbook = is_true(lines, "never use f1book");
    ask_for_workbook = is_true(lines, "ask for f1book");
    if (!never_use_workbook && ask_for_workbook) {
        const bool yes = ask ? ask(workbook_question, workbook_caption) : false;
        if (!yes) never_use_workbook = true;
    }
}

}  // namespace kelvad
