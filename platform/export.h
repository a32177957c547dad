// Marks the few symbols that a module exports; everything else is built with
// hidden visibility and kept local by the module's version script.
#pragma once

#define CQ_EXPORT __attribute__((visibility("default")))
