// The program's entry on Linux: the toolkit takes the first thread as its GUI thread and runs the
// application's entry on a thread of its own, as WinMain does on Windows. The arguments arrive
// already split.
#include <csignal>

#include "gui/gtk/gtk_internal.h"

int main(int argc, char** argv) {
    // Saving into a named pipe whose reader goes away must fail as a write error ("Error writing
    // file"), not end the program with SIGPIPE and lose the result in the window.
    std::signal(SIGPIPE, SIG_IGN);
    return gtk_run(argc, argv, app_main, nullptr);
}
