// The program's entry on Linux: the toolkit takes the first thread as its GUI thread and runs the
// application's entry on a thread of its own, as WinMain does on Windows. The arguments arrive
// already split.
#include "gui/gtk/gtk_internal.h"

int main(int argc, char** argv) {
    return gtk_run(argc, argv, app_main, nullptr);
}
