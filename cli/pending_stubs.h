// Present while the device flows and the configuration reader are stand-ins.
#pragma once

#define OB310_FLOWS_PENDING 1
