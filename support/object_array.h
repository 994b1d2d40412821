// A growable array of object references that does not own the objects.
#pragma once

#include <vector>

namespace dactyra {

template <typename T>
using TObjectDynArray = std::vector<T*>;

// Appends `objeto` and returns it.
template <typename T>
T* AdicionarObjeto(TObjectDynArray<T>& array, T* objeto) {
  array.push_back(objeto);
  return objeto;
}

}  // namespace dactyra
