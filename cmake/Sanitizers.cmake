# UMBRASCOPE_SANITIZE=ON builds everything under AddressSanitizer and UndefinedBehaviorSanitizer,
# stopping at the first report.
option(UMBRASCOPE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(UMBRASCOPE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
