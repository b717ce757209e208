#include "Nelo.MQTT.Internal.Collections.h"

#include <stdexcept>
#include <string>

void NeloMQTTListIndexError(int AIndex, int ACount) {
  throw std::out_of_range("List index out of bounds (" + std::to_string(AIndex) + ", count " +
                          std::to_string(ACount) + ")");
}

int TNeloMQTTWordList::Add(uint16_t AWord) {
  FItems.push_back(AWord);
  return Count() - 1;
}

void TNeloMQTTWordList::CheckIndex(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) NeloMQTTListIndexError(AIndex, Count());
}

void TNeloMQTTWordList::Delete(int AIndex) {
  CheckIndex(AIndex);
  FItems.erase(FItems.begin() + AIndex);
}

uint16_t TNeloMQTTWordList::Items(int AIndex) const {
  CheckIndex(AIndex);
  return FItems[static_cast<size_t>(AIndex)];
}

void TNeloMQTTWordList::SetItems(int AIndex, uint16_t AWord) {
  CheckIndex(AIndex);
  FItems[static_cast<size_t>(AIndex)] = AWord;
}

int TNeloMQTTWordList::IndexOf(uint16_t AWord) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i] == AWord) return static_cast<int>(i);
  return -1;
}
