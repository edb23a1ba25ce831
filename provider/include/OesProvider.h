// The provider's class; it carries no behaviour.
#pragma once

#define OES_EXPORT __attribute__((visibility("default")))

class OES_EXPORT OesProvider {
 public:
  OesProvider();
};
