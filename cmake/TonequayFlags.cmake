# Compiler flags every build shares: no build folder's path in any output.

# A program built in two folders must come out the same, so neither the tree's nor the build
# folder's path may reach a binary (debug information, __FILE__). The build folder's map comes
# last so that it wins for a build folder inside the tree.
add_compile_options("-ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
                    "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
