# SPDX-License-Identifier: BSD-3-Clause
# Generates a D-Bus adaptor whose methods forward to the parent object by name
# (QMetaObject::invokeMethod), for interfaces the parent does not implement in full.
# qt5_add_dbus_adaptor always binds the adaptor to a parent class, hence this variant.
function(twitterostra_add_forwarding_adaptor _sources _xml_file _basename)
    get_filename_component(_infile ${_xml_file} ABSOLUTE)
    set(_header "${CMAKE_CURRENT_BINARY_DIR}/${_basename}.h")
    set(_impl "${CMAKE_CURRENT_BINARY_DIR}/${_basename}.cpp")
    add_custom_command(OUTPUT "${_impl}" "${_header}"
        COMMAND Qt5::qdbusxml2cpp -a ${_basename} ${_infile}
        DEPENDS ${_infile} VERBATIM)
    set_source_files_properties("${_impl}" "${_header}" PROPERTIES SKIP_AUTOMOC FALSE)
    list(APPEND ${_sources} "${_impl}" "${_header}")
    set(${_sources} ${${_sources}} PARENT_SCOPE)
endfunction()
