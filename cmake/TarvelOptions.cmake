# Warning and sanitizer settings for the project's own targets (never for dependencies).

if(TARVEL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

function(tarvel_warnings target)
    # GCC 12 flags designated initializers that leave defaulted members out; that is their point.
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
    if(TARVEL_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
