#pragma once

#include "base/text.h"
#include "package/package_model.h"
#include "report/report_writer.h"
