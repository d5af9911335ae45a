// zorazez: the looping and overlay program. Opens one window, keeps
// numbered frames and shows them as an animation, driven by commands on
// its message queue.
#include <cstdlib>
#include <memory>

#include "app/loop.h"
#include "mqueue/mqueue.h"
#include "util/flag.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/system.h"

namespace {

// Rows of the suite's option table that the looper accepts, in the order
// of its help text.
const int kKeyedOptions[] = {
    57,   // help
    3,    // batch
    73,   // message
    48,   // file_path
    63,   // image_path
    107,  // window_num
    84,   // plot_domain
    110,  // grid_domain
    96,   // region
    98,   // stat_prior
    27,   // color_table
    34,   // command
    83,   // parameter
    46,   // device
    102,  // title
    59,   // icon
    2,    // background
    53,   // geometry
    0,
};
const int kPositionalOptions[] = {
    50,  // filename
    0,
};

[[noreturn]] void print_help() {
  std::unique_ptr<char, decltype(&std::free)> name(RES_get_progname(nullptr), &std::free);
  const char *progname = name ? name.get() : "zorazez";
  MESS_print(MESS_PRINT, "%s: This program plots various types of surface data\n", progname);
  RES_help_print(progname, kKeyedOptions, kPositionalOptions);
  ZYB_exit(0);
}

}  // namespace

int main(int argc, char **argv) {
  RES_set_server_client(MQ_resource_client());
  RES_init(argc, argv, kKeyedOptions, kPositionalOptions);
  if (FLAG_help()) print_help();
  MQ_params();
  MESS_print_prog("ZYB LOOPING AND OVERLAY PROGRAM");
  LOOP_init();
  LOOP_message();
}
