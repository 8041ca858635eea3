// The backends' profile reader: "key=value" lines, sections not consulted.
#ifndef DRAVN_COMMON_PROFILE_H
#define DRAVN_COMMON_PROFILE_H

int GetPrivateProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                            unsigned int size, const char* path);
int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* path);

// Trims white space (isspace) at both ends, in place; returns text.
char* TrimSpaceBothEnds(char* text);
// Splits "key<sep>value" when the line holds exactly one separator; both
// parts trimmed. key and value must hold the line's length.
bool GetKeyAndValue(const char* line, char separator, char* key, char* value);

#endif
