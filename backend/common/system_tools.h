// Where the system programs that callers still look for at start-up live:
// the first of the tool directories that holds an executable of the name.
#ifndef DRAVN_COMMON_SYSTEM_TOOLS_H
#define DRAVN_COMMON_SYSTEM_TOOLS_H

// Stores the tool's path in `path` (empty when none is found); false when
// no directory has it.
bool FindSystemTool(const char* name, char (&path)[256]);

#endif
