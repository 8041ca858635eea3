/* A stand-in library that exports only the entries its build names
   (WITH_<entry>), so that a loader can be shown a missing file, a missing
   entry or a unit that is not ready. */
#define EXPORT __attribute__((visibility("default")))

typedef int stub_library_t; /* keeps a build with no entries a valid unit */

#ifdef WITH_gInitialized
EXPORT unsigned char gInitialized = STUB_READY;
#endif

#define ENTRY(name) \
  EXPORT int name(void) { return 0; }

#ifdef WITH_P2iJugWhitePaper
ENTRY(P2iJugWhitePaper)
#endif
#ifdef WITH_fsip_control
ENTRY(fsip_control)
#endif
#ifdef WITH_fsip_ImageFilter
ENTRY(fsip_ImageFilter)
#endif
#ifdef WITH_fsip_DropoutColorEx
ENTRY(fsip_DropoutColorEx)
#endif
#ifdef WITH_fsip_FreeSinCos
ENTRY(fsip_FreeSinCos)
#endif
#ifdef WITH_MergeImage
ENTRY(MergeImage)
#endif
#ifdef WITH_I3ipIpunitProcess_BGSmoothing
ENTRY(I3ipIpunitProcess_BGSmoothing)
#endif
#ifdef WITH_I3ipIpunitProcess_Split
ENTRY(I3ipIpunitProcess_Split)
#endif
#ifdef WITH_I3ipIpunitProcess_Turnsense
ENTRY(I3ipIpunitProcess_Turnsense)
#endif
#ifdef WITH_I3ipIpunitProcess_BinAuto
ENTRY(I3ipIpunitProcess_BinAuto)
#endif
#ifdef WITH_jpeg_resync_to_restart
ENTRY(jpeg_resync_to_restart)
#endif
#ifdef WITH_jpeg_std_error
ENTRY(jpeg_std_error)
#endif
#ifdef WITH_jpeg_destroy_decompress
ENTRY(jpeg_destroy_decompress)
#endif
#ifdef WITH_jpeg_read_header
ENTRY(jpeg_read_header)
#endif
#ifdef WITH_jpeg_start_decompress
ENTRY(jpeg_start_decompress)
#endif
#ifdef WITH_jpeg_read_scanlines
ENTRY(jpeg_read_scanlines)
#endif
#ifdef WITH_jpeg_finish_decompress
ENTRY(jpeg_finish_decompress)
#endif
#ifdef WITH_jpeg_CreateDecompress
ENTRY(jpeg_CreateDecompress)
#endif
