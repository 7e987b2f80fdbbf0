// Reading a pattern file, a list of ELF paths, or standard input, for quarnel-cli.
#pragma once

// Reads the text named by `path` to its end: "-" reads standard input, anything else is a
// file, a named pipe or a process substitution (<(...)). A pipe that nobody writes to is
// refused after a short wait instead of hanging. The bytes are taken as they are (no line-end
// translation); the text is what precedes the first zero byte.
// Returns a zero-terminated buffer that the caller releases (free), or null after one message
// on standard error naming the file and the reason ("quarnel-cli: p.txt: Error opening file
// (No such file or directory)", ...).
char* cli_input_read(const char* path);
