! The host's side of each call: the arrays it owns and passes, and the calls
! themselves, every one of the 33 (USURA) or 25 (UPROPU) positions given a
! host array. Positions a routine does not use get their own array of a known
! pattern (column k of spare for position k), so that a routine reading or
! writing the wrong position shows.
module urea_host_calls
  use, intrinsic :: iso_c_binding, only: c_int64_t, c_double
  use urea_host_data, only: max_components
  use, intrinsic :: iso_c_binding, only: c_int32_t
  use urea_plugin, only: cmploc, usura, upropu
  implicit none
  private

  interface
    ! MXCSR, the x87 control word and the x87 status word (fp_state.c).
    subroutine host_fp_state(state) bind(C)
      import :: c_int32_t
      integer(c_int32_t), intent(out) :: state(3)
    end subroutine host_fp_state
  end interface

  ! Calls after which the host's floating-point state was not as before.
  integer, public :: fp_state_changes = 0

  ! ---- The reactor's arrays, for the rate routine -----------------------------
  ! Stream vector: flows 1..nc, total flow, T, P, then the host's other entries.
  real(c_double), public :: stream(max_components + 9) = 0.0_c_double
  real(c_double), public :: params(2) = 0.0_c_double                   ! a1, a2
  integer(c_int64_t), public, target :: host_opts(4) = 0                ! opaque
  real(c_double), public, target :: fug_extra(4) = 0.0_c_double         ! opaque
  real(c_double), public :: rates(max_components) = 0.0_c_double
  integer(c_int64_t), public :: n_present = 0
  integer(c_int64_t), public :: present_pos(max_components) = 0
  real(c_double), public :: x_present(max_components) = 0.0_c_double

  ! ---- The property request, for the property routine ------------------------
  integer(c_int64_t), public :: n_out = 0
  integer(c_int64_t), public :: out_pos(2 * max_components) = 0
  real(c_double), public :: out_values(2 * max_components) = 0.0_c_double
  real(c_double), public :: flows(max_components + 9) = 0.0_c_double

  real(c_double), public :: spare(4, 33) = 0.0_c_double

  public :: fill_spare, spare_unchanged, same_bits, call_cmploc, call_usura, call_upropu

contains

  subroutine fill_spare()
    integer :: j, k
    do k = 1, size(spare, 2)
      do j = 1, size(spare, 1)
        spare(j, k) = real(100 * k + j, c_double)
      end do
    end do
  end subroutine fill_spare

  logical function spare_unchanged()
    integer :: j, k
    spare_unchanged = .true.
    do k = 1, size(spare, 2)
      do j = 1, size(spare, 1)
        spare_unchanged = spare_unchanged .and. same_bits(spare(j, k), real(100 * k + j, c_double))
      end do
    end do
  end function spare_unchanged

  ! Equal as 8-byte patterns: no floating-point operation, so NaNs compare
  ! quietly and a trapping host stays untouched.
  elemental logical function same_bits(a, b)
    real(c_double), intent(in) :: a, b
    same_bits = transfer(a, 0_c_int64_t) == transfer(b, 0_c_int64_t)
  end function same_bits

  ! Every call into the plug-in must leave MXCSR (trap masks, rounding,
  ! flush-to-zero, denormals-are-zero, raised flags) and the x87 words as
  ! they were.
  subroutine compare_fp_state(routine, before)
    character(len=*), intent(in) :: routine
    integer(c_int32_t), intent(in) :: before(3)
    integer(c_int32_t) :: after(3)
    call host_fp_state(after)
    if (any(after /= before)) then
      fp_state_changes = fp_state_changes + 1
      write (*, '(a, a, 3(1x, z8.8), a, 3(1x, z8.8))') routine, &
          ' changed MXCSR, x87 control, x87 status from', before, ' to', after
    end if
  end subroutine compare_fp_state

  subroutine call_cmploc(name, vec, index, value)
    integer(c_int64_t), intent(in) :: name(2)
    real(c_double), intent(in) :: vec(*)
    integer(c_int64_t), intent(out) :: index
    real(c_double), intent(out) :: value
    integer(c_int32_t) :: before(3)
    call host_fp_state(before)
    call cmploc(name, vec, index, value)
    call compare_fp_state('CMPLOC', before)
  end subroutine call_cmploc

  subroutine call_usura()
    integer(c_int32_t) :: before(3)
    call host_fp_state(before)
    call usura(stream, spare(:, 2), spare(:, 3), spare(:, 4), spare(:, 5), spare(:, 6), &
        spare(:, 7), params, spare(:, 9), spare(:, 10), host_opts, spare(:, 12), &
        spare(:, 13), spare(:, 14), spare(:, 15), spare(:, 16), spare(:, 17), spare(:, 18), &
        rates, spare(:, 20), spare(:, 21), spare(:, 22), spare(:, 23), spare(:, 24), &
        spare(:, 25), spare(:, 26), spare(:, 27), spare(:, 28), spare(:, 29), &
        n_present, present_pos, fug_extra, x_present)
    call compare_fp_state('USURA', before)
  end subroutine call_usura

  ! The property name as the host holds it: two 8-character words.
  subroutine call_upropu(prop_name)
    character(len=8), intent(in) :: prop_name(2)
    integer(c_int32_t) :: before(3)
    call host_fp_state(before)
    call upropu(spare(:, 1), spare(:, 2), spare(:, 3), spare(:, 4), spare(:, 5), &
        n_out, out_pos, spare(:, 8), spare(:, 9), spare(:, 10), spare(:, 11), &
        spare(:, 12), spare(:, 13), spare(:, 14), spare(:, 15), spare(:, 16), &
        spare(:, 17), spare(:, 18), prop_name, out_values, spare(:, 21), spare(:, 22), &
        spare(:, 23), spare(:, 24), flows)
    call compare_fp_state('UPROPU', before)
  end subroutine call_upropu

end module urea_host_calls
