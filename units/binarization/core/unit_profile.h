// Windows-style profile reader of the image units and the small string,
// path and time utilities that go with it.
#ifndef DRAVN_UNIT_PROFILE_H
#define DRAVN_UNIT_PROFILE_H

#include <cstdio>

int GetPrivateProfileString(const char* section, const char* key, const char* defaultValue, char* buffer, int size,
                            const char* path);
int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* path);

char* rmlead(char* s);
char* rmtrail(char* s);
int rmquotes(char* s);
int rmbrackets(char* s);
char* stptok(const char* s, char* token, int size, const char* delimiters);
char* strTrim(char* s);
int strDelQuote(char* s);
int fopen_s(FILE** file, const char* path, const char* mode);
int getModulePath(const char* name, char* dir);
int GetModuleFileName(void* module, char* buffer, int size);
void getLocaleTime(char* buffer);
unsigned GetTimeCounter();

#endif
