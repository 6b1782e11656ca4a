// The start of a data reading: everything learnt from the vehicle before is forgotten.
#pragma once

void OBD_Init();  // no ECU known; supported PIDs, monitor status, info types and trouble codes cleared
