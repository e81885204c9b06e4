#error "a host header of this name must never be reached from the package's headers"
