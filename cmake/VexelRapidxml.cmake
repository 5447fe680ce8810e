# rapidxml, header-only, from Debian's librapidxml-dev. Its folder holds
# nothing else, so the cross build may search it too.
set(VEXEL_RAPIDXML_DIR /usr/include/rapidxml CACHE PATH "Folder that holds rapidxml.hpp")
if(NOT EXISTS ${VEXEL_RAPIDXML_DIR}/rapidxml.hpp)
  message(FATAL_ERROR "rapidxml.hpp not found in ${VEXEL_RAPIDXML_DIR} (tools/setup.sh installs librapidxml-dev)")
endif()
target_include_directories(vexel_core SYSTEM PRIVATE ${VEXEL_RAPIDXML_DIR})
