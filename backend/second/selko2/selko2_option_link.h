// What the option layer reads of the Selko2 device object: the status and
// error options and the geometry of the pages it serves.
#ifndef DRAVN_SECOND_SELKO2_OPTION_LINK_H
#define DRAVN_SECOND_SELKO2_OPTION_LINK_H

class CSelko2ScanFunc;

// Makes `object` the open Selko2 device (null: none) for the entry points
// and for the option layer.
void SetSelko2Device(CSelko2ScanFunc* object);

#endif
