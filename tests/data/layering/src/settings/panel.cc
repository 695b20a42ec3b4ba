#include "settings/panel.h"

#include "export/exports.h"
#include "geometry/parameter_set.h"
