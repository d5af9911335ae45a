// Process services: leaving, detaching, sleeping and frame timing.
#pragma once

[[noreturn]] void ZYB_exit(int status);
int ZYB_get_pid();

// Moves the process into the background. The parent (and a failed fork)
// exits with status 0; the child returns 1, or 0 when it could not put its
// standard streams on /dev/null.
int ZYB_back_proc();

// Sleeps; a duration <= 0 returns -1 and does nothing.
int ZYB_sleep(float seconds);
int ZYB_init_time();
float ZYB_elapse_time();  // seconds since the last ZYB_init_time

const char *ZYB_version();

// Prompts on the terminal until a number is typed; "set name value" lines
// typed instead change resources, "exit" ends the program.
float ZYB_promptf(const char *prompt);

// 1 when line was a "set" command (and was applied), else 0.
int ZYB_set_command(const char *line);
