// SPDX-License-Identifier: GPL-3.0-or-later
// The graphing library in one include: records, defaults, axes and series.
#pragma once

#include "graph/axes.h"
#include "graph/defaults.h"
#include "graph/records.h"
#include "graph/series.h"
#include "graph/window.h"
