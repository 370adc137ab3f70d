#include <gtest/gtest.h>

#include "Browser/real/RealScans.h"
