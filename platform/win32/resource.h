#pragma once
// Resource identifiers shared by tarsolin.rc and the code.
#define IDI_TARSOLIN 1
