! The host's data items, under the names the plug-in imports, and the tables
! behind the host's property routines. Everything is 8-byte: integers
! integer(c_int64_t), reals real(c_double), name words 8 characters held in
! an integer word, as the host keeps them in its pool.
module urea_host_data
  use, intrinsic :: iso_c_binding, only: c_int64_t, c_double, c_ptr, c_null_ptr
  implicit none
  private

  integer, parameter, public :: pool_size = 1024
  integer, parameter, public :: max_components = 100

  ! ---- Data items read by the plug-in ----------------------------------------
  integer(c_int64_t), bind(C, name="HOST_COMPONENT_COUNT"), public :: component_count = 0
  integer(c_int64_t), bind(C, name="HOST_POOL"), public :: pool(pool_size) = 0
  integer(c_int64_t), bind(C, name="HOST_OFFSETS_IDS"), public :: offsets_ids(8) = 0
  integer(c_int64_t), bind(C, name="HOST_OFFSETS_PROPS"), public :: offsets_props(400) = 0
  integer(c_int64_t), bind(C, name="HOST_STREAM_WORK"), public :: stream_work(8) = 0
  real(c_double), bind(C, name="HOST_REACTOR_STATE"), public :: reactor_state(16) = 0.0_c_double

  ! ---- The host's thermodynamics, by component position -----------------------
  real(c_double), public :: gibbs_of(max_components) = 0.0_c_double     ! J/kmol
  real(c_double), public :: fugacity_of(max_components) = 0.0_c_double
  real(c_double), public :: liquid_volume = 0.0_c_double                ! m3/kmol

  ! ---- What the property routines were last handed -----------------------------
  real(c_double), public :: seen_t(3) = 0.0_c_double    ! ideal gas, volume, fugacity
  real(c_double), public :: seen_p(2) = 0.0_c_double    ! volume, fugacity
  type(c_ptr), public :: seen_opts(2) = c_null_ptr       ! volume, fugacity
  type(c_ptr), public :: seen_fug_extra = c_null_ptr
  integer, public :: property_calls = 0

  public :: name_word, set_components, set_molecular_weights, molecular_weight

contains

  ! text blank-padded to 8 characters, as one pool word.
  pure function name_word(text) result(word)
    character(len=*), intent(in) :: text
    integer(c_int64_t) :: word
    character(len=8) :: padded
    padded = text
    word = transfer(padded, word)
  end function name_word

  ! Component i's name pair at pool words l_ids+2i-1 (the name) and l_ids+2i
  ! (blank); HOST_OFFSETS_IDS(2) = l_ids; nc = the number of names.
  subroutine set_components(names, l_ids)
    character(len=*), intent(in) :: names(:)
    integer, intent(in) :: l_ids
    integer :: i
    do i = 1, size(names)
      pool(l_ids + 2*i - 1) = name_word(names(i))
      pool(l_ids + 2*i) = name_word('')
    end do
    offsets_ids(2) = l_ids
    component_count = size(names, kind=c_int64_t)
  end subroutine set_components

  ! Molecular weight of component i (kg/kmol) at pool word l_mw+i, stored as
  ! the 8 bytes of the real; HOST_OFFSETS_PROPS(306) = l_mw.
  subroutine set_molecular_weights(mw, l_mw)
    real(c_double), intent(in) :: mw(:)
    integer, intent(in) :: l_mw
    integer :: i
    do i = 1, size(mw)
      pool(l_mw + i) = transfer(mw(i), 0_c_int64_t)
    end do
    offsets_props(306) = l_mw
  end subroutine set_molecular_weights

  real(c_double) function molecular_weight(i)
    integer, intent(in) :: i
    molecular_weight = transfer(pool(offsets_props(306) + i), 0.0_c_double)
  end function molecular_weight

end module urea_host_data
