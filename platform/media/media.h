// The media-filter framework as one include.
#pragma once

#include "platform/media/com.h"
#include "platform/media/errors.h"
#include "platform/media/media_types.h"
#include "platform/media/interfaces.h"
#include "platform/media/samples.h"
#include "platform/media/graph.h"
#include "platform/media/allocator.h"
#include "platform/media/base_filter.h"
#include "platform/media/base_pins.h"
#include "platform/media/source_filter.h"
#include "platform/media/file_source.h"
#include "platform/media/filter_graph.h"
#include "platform/media/inf_tee.h"
#include "platform/media/mpeg2_filters.h"
