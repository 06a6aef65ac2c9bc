#pragma once

// The small helpers every handler family uses, in one include.
#include "router/gateway_paths.h"
#include "router/json_helpers.h"
#include "router/message_order.h"
#include "router/method_not_found.h"
#include "router/query_params.h"
