#pragma once
// Thrown out of a wait (or after a message box) once the window has closed:
// the running sequence stops where it is, without an error report, and
// nothing more goes to the device.

struct SequenceAbandoned {};

// Thrown out of a wait when the operator stopped the running upload; the
// stop itself has already put the program right and told the operator.
struct UploadStopped : SequenceAbandoned {};
