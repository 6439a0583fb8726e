#include "tracfile.h"

#include <cstdlib>

// Placeholder: the container lands with the data-core work.
_STracFile* Trac_Create() { return static_cast<_STracFile*>(calloc(1, sizeof(_STracFile))); }
bool Trac_Alloc(_STracFile*, int) { return false; }
int Trac_Add(_STracFile*, uint16_t, uint16_t, uint16_t, uint16_t, int) { return -1; }
void Trac_Free(_STracFile*) {}
void Trac_Destroy(_STracFile* trac) { free(trac); }
int Trac_Write(_STracFile*, const char*, int) { return -1; }
int Trac_Read(_STracFile*, const char*) { return -1; }
