#pragma once

#include "geometry/wire.h"
