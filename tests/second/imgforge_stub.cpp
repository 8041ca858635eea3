// A libimgforge offering every entry the option table looks for, so that
// the whole option set is there whatever the real library offers; each
// entry refuses its work.
extern "C" {
int P2iJugWhitePaper(void*, int*, void*, void*) { return -2; }
int fsip_control(void*, void*, void*, unsigned char*) { return -2; }
int fsip_ImageFilter(void*, void*, void*, const void*) { return -2; }
int fsip_DropoutColorEx(void*, void*, void*, const void*) { return -2; }
void fsip_FreeSinCos() {}
int MergeImage(void*, void*, int, int, int, void*) { return 34; }
}
