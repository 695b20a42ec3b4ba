#include "ui/window.h"

#include <QWidget>

#include "app/workspace.h"
