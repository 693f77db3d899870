namespace vx { int vximage_placeholder() { return 0; } }
