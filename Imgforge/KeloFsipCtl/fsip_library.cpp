// The image-processing library's exports are added by the subsystems that
// build them; until then the library loads and binds nothing.
