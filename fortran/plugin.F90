! The plug-in as a Fortran host sees it: loaded at run time with dlopen
! (LoadLibrary on Windows), its three routines resolved by name and called
! through explicit interfaces in which every argument is passed by reference.
module urea_plugin
  use, intrinsic :: iso_c_binding
  implicit none
  private
  public :: load_plugin, cmploc, usura, upropu

  abstract interface
    ! Position of name in the component list and the matching entry of vec.
    subroutine cmploc_routine(name, vec, index, value) bind(C)
      import :: c_int64_t, c_double
      integer(c_int64_t), intent(in) :: name(2)
      real(c_double), intent(in) :: vec(*)
      integer(c_int64_t), intent(out) :: index
      real(c_double), intent(out) :: value
    end subroutine cmploc_routine

    ! Generation rates; positions 2-7, 9, 10, 12-18 and 20-29 carry the
    ! host's other reactor arrays, which the routine leaves alone.
    subroutine usura_routine(stream, a2, a3, a4, a5, a6, a7, params, a9, a10, host_opts, &
        a12, a13, a14, a15, a16, a17, a18, rates, a20, a21, a22, a23, a24, a25, a26, &
        a27, a28, a29, n_present, present_pos, fug_extra, x_present) bind(C)
      import :: c_int64_t, c_double
      real(c_double), intent(in) :: stream(*)
      real(c_double), intent(in) :: a2(*), a3(*), a4(*), a5(*), a6(*), a7(*)
      real(c_double), intent(in) :: params(*)
      real(c_double), intent(in) :: a9(*), a10(*)
      integer(c_int64_t), intent(in) :: host_opts(*)
      real(c_double), intent(in) :: a12(*), a13(*), a14(*), a15(*), a16(*), a17(*), a18(*)
      real(c_double), intent(inout) :: rates(*)
      real(c_double), intent(in) :: a20(*), a21(*), a22(*), a23(*), a24(*), a25(*), &
          a26(*), a27(*), a28(*), a29(*)
      integer(c_int64_t), intent(in) :: n_present
      integer(c_int64_t), intent(in) :: present_pos(*)
      real(c_double), intent(in) :: fug_extra(*)
      real(c_double), intent(in) :: x_present(*)
    end subroutine usura_routine

    ! A user stream property; positions 1-5, 8-18 and 21-24 carry the host's
    ! other property arrays, which the routine leaves alone.
    subroutine upropu_routine(a1, a2, a3, a4, a5, n_out, out_pos, a8, a9, a10, a11, &
        a12, a13, a14, a15, a16, a17, a18, prop_name, out_values, a21, a22, a23, a24, &
        flows) bind(C)
      import :: c_int64_t, c_double, c_char
      real(c_double), intent(in) :: a1(*), a2(*), a3(*), a4(*), a5(*)
      integer(c_int64_t), intent(in) :: n_out
      integer(c_int64_t), intent(in) :: out_pos(*)
      real(c_double), intent(in) :: a8(*), a9(*), a10(*), a11(*), a12(*), a13(*), &
          a14(*), a15(*), a16(*), a17(*), a18(*)
      character(kind=c_char), intent(in) :: prop_name(*)
      real(c_double), intent(inout) :: out_values(*)
      real(c_double), intent(in) :: a21(*), a22(*), a23(*), a24(*)
      real(c_double), intent(in) :: flows(*)
    end subroutine upropu_routine
  end interface

  procedure(cmploc_routine), pointer :: cmploc => null()
  procedure(usura_routine), pointer :: usura => null()
  procedure(upropu_routine), pointer :: upropu => null()

#ifdef UREA_WINDOWS
  interface
    type(c_ptr) function load_library(file) bind(C, name="LoadLibraryA")
      import :: c_ptr, c_char
      character(kind=c_char), intent(in) :: file(*)
    end function load_library
    type(c_funptr) function get_proc_address(module, symbol) bind(C, name="GetProcAddress")
      import :: c_ptr, c_funptr, c_char
      type(c_ptr), value :: module
      character(kind=c_char), intent(in) :: symbol(*)
    end function get_proc_address
    integer(c_int32_t) function get_last_error() bind(C, name="GetLastError")
      import :: c_int32_t
    end function get_last_error
  end interface
#else
  interface
    type(c_ptr) function dlopen(file, mode) bind(C, name="dlopen")
      import :: c_ptr, c_char, c_int
      character(kind=c_char), intent(in) :: file(*)
      integer(c_int), value :: mode
    end function dlopen
    type(c_funptr) function dlsym(handle, symbol) bind(C, name="dlsym")
      import :: c_ptr, c_funptr, c_char
      type(c_ptr), value :: handle
      character(kind=c_char), intent(in) :: symbol(*)
    end function dlsym
    type(c_ptr) function dlerror() bind(C, name="dlerror")
      import :: c_ptr
    end function dlerror
    integer(c_size_t) function strlen(s) bind(C, name="strlen")
      import :: c_ptr, c_size_t
      type(c_ptr), value :: s
    end function strlen
  end interface

  ! glibc's RTLD_NOW; with RTLD_LOCAL (0) the routines are reached only by dlsym.
  integer(c_int), parameter :: rtld_now = 2
#endif

contains

  ! Loads the library at path and resolves CMPLOC, USURA and UPROPU; stops
  ! the program if any of that fails.
  subroutine load_plugin(path)
    character(len=*), intent(in) :: path
    type(c_ptr) :: handle
#ifdef UREA_WINDOWS
    handle = load_library(trim(path) // c_null_char)
    if (.not. c_associated(handle)) call loader_failed('LoadLibrary ' // trim(path))
#else
    handle = dlopen(trim(path) // c_null_char, rtld_now)
    if (.not. c_associated(handle)) call loader_failed('dlopen ' // trim(path))
#endif
    call c_f_procpointer(resolve(handle, 'CMPLOC'), cmploc)
    call c_f_procpointer(resolve(handle, 'USURA'), usura)
    call c_f_procpointer(resolve(handle, 'UPROPU'), upropu)
  end subroutine load_plugin

  type(c_funptr) function resolve(handle, name)
    type(c_ptr), intent(in) :: handle
    character(len=*), intent(in) :: name
#ifdef UREA_WINDOWS
    resolve = get_proc_address(handle, name // c_null_char)
    if (.not. c_associated(resolve)) call loader_failed('GetProcAddress ' // name)
#else
    resolve = dlsym(handle, name // c_null_char)
    if (.not. c_associated(resolve)) call loader_failed('dlsym ' // name)
#endif
  end function resolve

  subroutine loader_failed(what)
    character(len=*), intent(in) :: what
#ifdef UREA_WINDOWS
    write (*, '(a, ": error ", i0)') what, get_last_error()
#else
    type(c_ptr) :: message
    character(kind=c_char), pointer :: text(:)
    message = dlerror()
    if (c_associated(message)) then
      call c_f_pointer(message, text, [strlen(message)])
      write (*, '(a, ": ", *(a))') what, text
    else
      write (*, '(a, ": failed")') what
    end if
#endif
    error stop 2
  end subroutine loader_failed

end module urea_plugin
