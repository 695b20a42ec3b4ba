#include "package/package_reader.h"

#include <QString>
