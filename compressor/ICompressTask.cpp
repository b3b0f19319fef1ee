#include "ICompressTask.h"

// Defined here so the class's type information and meta-object live in the library.
ICompressTask::~ICompressTask() = default;
