#include "installer/flow.h"

#include <cstdint>
#include <string_view>

#include "console/line_input.h"
#include "console/screen_output.h"
#include "installer/file_listing.h"
#include "installer/message_box.h"
#include "runtime/process.h"
#include "runtime/shell.h"
#include "runtime/text_stream.h"

namespace zuva {

BoundedString device_name{255};
BoundedString answer{5};

namespace {

using namespace std::string_view_literals;

// The dialogue's texts. Trailing spaces place the boxes, so their lengths are part of the layout.
constexpr auto welcome_text = "Welcome to ZUVA Linux pre1-2.0 Install!"sv;
constexpr auto interest_text = "Are you still intrested in installing ZUVA?"sv;
constexpr auto yes_no_prompt = "([y]/n) ___________"sv;
constexpr auto warranty_box_text = "OK! Just follow me and READ EVERYTHING!          "sv;
constexpr auto warranty_text = "Sorry but ZUVA comes with NO WARRANTY! Well..."sv;
constexpr auto cd_question_text = "Now please pick the adress of the device where is ZUVA Cd:"sv;
constexpr auto cd_example_text = "e.g. \"/dev/hdc\"  or  \"s\" - skip(already mounted on /cdrom)"sv;
constexpr auto device_prompt = "(Dev:) ________________________"sv;
constexpr auto mount_check_text = "Is it properly mounted?                 "sv;
constexpr auto mount_check_prompt = "([y]/n/q) ___________"sv;
constexpr auto target_question_text = "Now please pick the adress of WHERE YOU WANT ZUVA TO BE INSTALLED!"sv;
constexpr auto target_example_text = "e.g. \"/dev/hda1\"   or    \"s\"-skip(already mounted on /drive)"sv;
constexpr auto confirm_box_text = "Yeah! Let's do it! Are you sure you want to install?               "sv;
constexpr auto confirm_text = "Are you sure that the filesystem you mounted can fit 80 mb of data?"sv;
constexpr auto cancel_text = "Oh dear! You canceld before the install?!"sv;
constexpr auto next_time_text = "Next time just write \"s\" to skip when mounting cdrom and drive!"sv;
constexpr auto copy_box_text = "Installing software without prompting!!!!"sv;
constexpr auto copy_text = "Sit down and relax. Any problems will pop-up..."sv;
constexpr auto silence_text = "....................enjoy the silence.........."sv;
constexpr auto done_box_text = "Hey! Neo! Wake up!! I'm ready! If you don't see any weird messages"sv;
constexpr auto done_text = "that means: You installed ZUVA SUCCESFULLY :) Press Enter"sv;
constexpr auto floppy_text = "If you want to create a bootfloppy write:"sv;
constexpr auto dd_text = "dd if=/cdrom/boot.dsk of=/dev/fd0   You need a floppy first of course :)"sv;
constexpr auto isolinux_text = "you can also boot using the kernel on this cd -> read the isolinux splash"sv;

constexpr auto df_command = "df > df.tmp"sv;
constexpr auto df_file = "df.tmp"sv;
constexpr auto loop_mount_command = "mount -o loop /cdrom/zuvahd.img /vdr"sv;
constexpr auto copy_command = "cp -ra /vdr/* /drive/"sv;

static_assert(welcome_text.size() == 39 && interest_text.size() == 43 && yes_no_prompt.size() == 19);
static_assert(warranty_box_text.size() == 49 && warranty_text.size() == 46);
static_assert(cd_question_text.size() == 58 && cd_example_text.size() == 58 && device_prompt.size() == 31);
static_assert(mount_check_text.size() == 40 && mount_check_prompt.size() == 21);
static_assert(target_question_text.size() == 66 && target_example_text.size() == 60);
static_assert(confirm_box_text.size() == 67 && confirm_text.size() == 67);
static_assert(cancel_text.size() == 41 && next_time_text.size() == 63);
static_assert(copy_box_text.size() == 41 && copy_text.size() == 47 && silence_text.size() == 47);
static_assert(done_box_text.size() == 66 && done_text.size() == 57);
static_assert(floppy_text.size() == 41 && dd_text.size() == 72 && isolinux_text.size() == 73);

// The helpers are inlined into the dialogue, so a failed check reports the dialogue's own address.
[[gnu::always_inline]] inline void write_at(uint8_t column, uint8_t row, std::string_view text) {
    goto_xy(column, row);
    write_string(0, std_output, text);
    write_end(std_output);
    check_io();
}

[[gnu::always_inline]] inline void write_line(std::string_view text) {
    write_string(0, std_output, text);
    write_line_end(std_output);
    check_io();
}

[[gnu::always_inline]] inline void show_box(std::string_view text) { show_message_box(bounded(text)); }

[[gnu::always_inline]] inline void run_command(std::string_view command) { run_shell(bounded(command)); }

// Reads one answer line into the variable, within its maximum. False when the input ended before
// the line did: an unfinished line is never taken as consent.
[[gnu::always_inline]] inline bool read_answer(BoundedString& variable) {
    read_string(std_input, variable);
    read_line_end(std_input);
    check_io();
    return line_end_read || !input_ended;
}

// The dialogue ends at a question without an answer: after the end of input quietly, after
// Ctrl+C with the status shells give an interrupted program.
[[gnu::always_inline]] inline void give_up() {
    reset_screen();
    if (input_interrupted) exit_code = 130;
}

// Mounts the device just asked for, unless the user skipped it, and lists what df sees.
[[gnu::always_inline]] inline void mount_and_list(std::string_view mount_point) {
    reset_screen();
    if (!(device_name == "s")) run_shell(mount_command(device_name, mount_point));
    run_command(df_command);
    list_file(bounded(df_file));
}

enum class CheckResult { quit, back, go_on, input_ended };

[[gnu::always_inline]] inline CheckResult ask_mount_check() {
    show_box(mount_check_text);
    write_at(30, 14, mount_check_prompt);
    goto_xy(39, 14);
    if (!read_answer(answer)) return CheckResult::input_ended;
    if (answer == "q") return CheckResult::quit;
    if (answer == "n") return CheckResult::back;
    return CheckResult::go_on;
}

// The whole dialogue. Inlined into the main routine, so that its calls, list_file's included,
// are made from the main routine's own frame and a run-time error report stays short.
[[gnu::always_inline]] inline void installer_dialogue() {
    reset_screen();
    show_box(welcome_text);
    if (!read_answer(device_name)) return give_up();

    // The interest question is where both mount checks lead back to, without clearing.
    for (;;) {
        show_box(interest_text);
        write_at(30, 14, yes_no_prompt);
        goto_xy(39, 14);
        if (!read_answer(answer) || answer == "n") return give_up();

        reset_screen();
        show_box(warranty_box_text);
        write_at(17, 13, warranty_text);
        if (!read_answer(device_name)) return give_up();

        show_box(cd_question_text);
        write_at(12, 13, cd_example_text);
        write_at(15, 14, device_prompt);
        goto_xy(22, 14);
        if (!read_answer(device_name)) return give_up();

        mount_and_list(" /cdrom");
        CheckResult check = ask_mount_check();
        if (check == CheckResult::back) continue;
        if (check != CheckResult::go_on) return give_up();

        reset_screen();
        show_box(target_question_text);
        write_at(12, 13, target_example_text);
        write_at(15, 14, device_prompt);
        goto_xy(22, 14);
        if (!read_answer(device_name)) return give_up();

        mount_and_list(" /drive");
        check = ask_mount_check();
        if (check == CheckResult::back) continue;
        if (check != CheckResult::go_on) return give_up();
        break;
    }

    reset_screen();
    list_file(bounded(df_file));
    show_box(confirm_box_text);
    write_at(8, 13, confirm_text);
    write_at(30, 14, yes_no_prompt);
    goto_xy(39, 14);
    if (!read_answer(answer)) return give_up();
    if (answer == "n") {
        reset_screen();
        write_line(cancel_text);
        write_line(next_time_text);
        return;
    }

    reset_screen();
    show_box(copy_box_text);
    write_at(25, 14, copy_text);
    write_at(25, 15, silence_text);
    goto_xy(1, 1);
    run_command(loop_mount_command);
    run_command(copy_command);

    show_box(done_box_text);
    write_at(10, 14, done_text);
    // Whatever happens to this line, the closing instructions follow.
    read_answer(answer);
    reset_screen();
    write_line(floppy_text);
    write_line(dd_text);
    write_line(isolinux_text);
}

}  // namespace

BoundedString mount_command(const BoundedString& device, std::string_view mount_point) {
    BoundedString command;
    append(command, "mount ");
    append(command, device);
    append(command, mount_point);
    return command;
}

void run_installer() { installer_dialogue(); }

void installer_main() {
    init_modules();
    installer_dialogue();
    halt_program();
}

}  // namespace zuva
