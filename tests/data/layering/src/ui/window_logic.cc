#include "ui/window_logic.h"

#include <QString>
