#include "art/art.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares its function at the point of use, so it must stay outside any namespace.
void InitTessalyArt() { Q_INIT_RESOURCE(tessaly_art); }
