// Where the engine's load messages go: the unit log of the library that carries it.
#ifndef DRAVN_CLASSIFIER_LOG_H
#define DRAVN_CLASSIFIER_LOG_H

void ClassifierLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif
