// What the services of the polling tick share with it.
#pragma once

// Thrown inside the tick when the connection was closed during a yield
// (ConnectionHandle 0): the tick goes straight to its end step.
struct TickEnded {};
