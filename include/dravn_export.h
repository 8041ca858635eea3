#ifndef DRAVN_EXPORT_H
#define DRAVN_EXPORT_H

/* Marks the C entry points and data that a deliverable exports; everything
   else is hidden (the two backends carry the same common layer in one
   process, and three libraries carry the bitmap library). */
#define DRAVN_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define DRAVN_C_EXPORT extern "C" DRAVN_EXPORT
#else
#define DRAVN_C_EXPORT DRAVN_EXPORT
#endif

#endif
