// The resource monitor windows, all in one header for the main window.
#pragma once

#include "windows/analogwindows.h"
#include "windows/customwindows.h"
#include "windows/digitalwindows.h"
#include "windows/frmFlag.h"
#include "windows/frmRegbits.h"
#include "windows/frmStatus.h"
#include "windows/registerwindows.h"
#include "windows/servowindows.h"
