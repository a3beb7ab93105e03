// How many files (pipes and sockets among them) the process may hold open at once.
#pragma once
#include <cstddef>

// Makes room for `needed` open files: raises the soft limit to `needed` when it is lower (it is
// never lowered), as far as the hard limit allows. False when the hard limit is lower than
// `needed` or the limit could not be raised; problem (size bytes) then says why.
bool open_files_allow(long needed, char* problem, std::size_t size);
