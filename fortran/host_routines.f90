! The host's routines that the rate routine calls, under the names the
! plug-in imports. Every argument arrives by reference. They answer from the
! tables in urea_host_data and note what they were handed.
module urea_host_routines
  use, intrinsic :: iso_c_binding, only: c_int64_t, c_double, c_loc
  use urea_host_data
  implicit none
  private
  public :: host_scatter, host_ideal_gas_props, host_liquid_volume, host_liquid_fugacity

contains

  ! Clears full(1..nc), then full(pos(k)) = packed(k) for k = 1..count.
  subroutine host_scatter(packed, count, pos, full) bind(C, name="HOST_SCATTER")
    real(c_double), intent(in) :: packed(*)
    integer(c_int64_t), intent(in) :: count
    integer(c_int64_t), intent(in) :: pos(*)
    real(c_double), intent(inout) :: full(*)
    integer(c_int64_t) :: k
    full(1:component_count) = 0.0_c_double
    do k = 1, count
      full(pos(k)) = packed(k)
    end do
  end subroutine host_scatter

  ! Pure-component ideal-gas Gibbs energy of each present component, packed.
  ! The flags ask for nothing else: the other outputs are left alone.
  subroutine host_ideal_gas_props(t, x_present, n_present, present_pos, diag_level, &
      flag6, flag7, flag8, flag9, flag10, flag11, flag12, out13, out14, g_packed, &
      out16, out17, out18, out19, out20, out21, out22, out23, out24, err_flag) &
      bind(C, name="HOST_IDEAL_GAS_PROPS")
    real(c_double), intent(in) :: t
    real(c_double), intent(in) :: x_present(*)
    integer(c_int64_t), intent(in) :: n_present
    integer(c_int64_t), intent(in) :: present_pos(*)
    integer(c_int64_t), intent(in) :: diag_level, flag6, flag7, flag8, flag9, flag10, &
        flag11, flag12
    real(c_double), intent(inout) :: out13(*), out14(*)
    real(c_double), intent(out) :: g_packed(*)
    real(c_double), intent(inout) :: out16(*), out17(*), out18(*), out19(*), out20(*), &
        out21(*), out22(*), out23(*), out24(*)
    integer(c_int64_t), intent(out) :: err_flag
    integer(c_int64_t) :: k
    do k = 1, n_present
      g_packed(k) = gibbs_of(present_pos(k))
    end do
    ! The count of packed values just returned, for the scatter that follows.
    stream_work(3) = n_present
    seen_t(1) = t
    property_calls = property_calls + 1
    err_flag = 0
  end subroutine host_ideal_gas_props

  ! Liquid molar volume of the mixture, m3/kmol.
  subroutine host_liquid_volume(t, p, x_present, n_present, present_pos, host_opts, &
      diag_level, one, vl, out10, err_flag) bind(C, name="HOST_LIQUID_VOLUME")
    real(c_double), intent(in) :: t, p
    real(c_double), intent(in) :: x_present(*)
    integer(c_int64_t), intent(in) :: n_present
    integer(c_int64_t), intent(in) :: present_pos(*)
    integer(c_int64_t), intent(in), target :: host_opts(*)
    integer(c_int64_t), intent(in) :: diag_level, one
    real(c_double), intent(out) :: vl
    real(c_double), intent(inout) :: out10
    integer(c_int64_t), intent(out) :: err_flag
    vl = liquid_volume
    seen_t(2) = t
    seen_p(1) = p
    seen_opts(1) = c_loc(host_opts(1))
    property_calls = property_calls + 1
    err_flag = 0
  end subroutine host_liquid_volume

  ! Liquid fugacity coefficient of each present component, packed.
  subroutine host_liquid_fugacity(t, p, x_present, fug_extra, n_present, present_pos, &
      host_opts, diag_level, one, phi_packed, out11, err_flag) &
      bind(C, name="HOST_LIQUID_FUGACITY")
    real(c_double), intent(in) :: t, p
    real(c_double), intent(in) :: x_present(*)
    real(c_double), intent(in), target :: fug_extra(*)
    integer(c_int64_t), intent(in) :: n_present
    integer(c_int64_t), intent(in) :: present_pos(*)
    integer(c_int64_t), intent(in), target :: host_opts(*)
    integer(c_int64_t), intent(in) :: diag_level, one
    real(c_double), intent(out) :: phi_packed(*)
    real(c_double), intent(inout) :: out11
    integer(c_int64_t), intent(out) :: err_flag
    integer(c_int64_t) :: k
    do k = 1, n_present
      phi_packed(k) = fugacity_of(present_pos(k))
    end do
    stream_work(3) = n_present
    seen_t(3) = t
    seen_p(2) = p
    seen_opts(2) = c_loc(host_opts(1))
    seen_fug_extra = c_loc(fug_extra(1))
    property_calls = property_calls + 1
    err_flag = 0
  end subroutine host_liquid_fugacity

end module urea_host_routines
