#include "db/WorkAreaScope.h"

#include "xbengine.h"

WorkAreaScope::WorkAreaScope(int area) : previous_(xb_Select(area)) {}

WorkAreaScope WorkAreaScope::ForDataset(int own) {
  return WorkAreaScope(own > 0 ? xb_Select(own) : xb_WorkArea(nullptr), own);
}

void WorkAreaScope::Leave() {
  if (left_) return;
  left_ = true;
  if (previous_ > 0 && (own_ == 0 || previous_ != own_)) xb_Select(previous_);
}
