#pragma once

namespace ostrel {}
