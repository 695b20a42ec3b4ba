#include <gtest/gtest.h>

#include "app/workspace.h"
#include "geometry/wire.h"
