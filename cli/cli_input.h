// Reading a pattern file, or standard input, for quarnel-cli.
#pragma once

// Reads the pattern text named by `path`: "-" reads standard input to its end, anything else
// is a file read whole by load_file. The bytes are taken as they are (no line-end
// translation); the text is what precedes the first zero byte.
// Returns a zero-terminated buffer that the caller releases (free), or null after one message
// on standard error ("Error opening file", "Error reading file", ...).
char* cli_input_read(const char* path);
