#pragma once
// Interned path names shared by bindings, pending opens and activity groups.
namespace mirrow {

// The name table with its lock, id sequence and byte budget.
struct NameTable {};

}  // namespace mirrow
